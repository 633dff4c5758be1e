#pragma once

// What a modal window gives back: the button that ended it, or Cancel for its close box. Every
// dialog of the program speaks in these.
enum class ModalResult { None = 0, Ok = 1, Cancel = 2, Yes = 6, No = 7 };
