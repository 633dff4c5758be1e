#pragma once

#include <utility>

// Installs one of the program's replaceable hooks (the shell's open, the memory status, the
// locale's separator, the message answerer, the entry dialog's modal hook) for a scope, and puts
// the one it replaced back when the scope ends: also when a failed check returns early, so that no
// hook outlives the stack frame it refers to. Every hook's setter returns the hook it replaced.
template <typename Hook> class ScopedHook {
public:
    using Setter = Hook (*)(Hook);

    template <typename F>
    ScopedHook(Setter set, F &&hook) : set_(set), previous_(set(Hook(std::forward<F>(hook))))
    {
    }
    ~ScopedHook() { set_(std::move(previous_)); }
    ScopedHook(const ScopedHook &) = delete;
    ScopedHook &operator=(const ScopedHook &) = delete;

    // The hook in force before this one.
    const Hook &previous() const { return previous_; }

private:
    Setter set_;
    Hook previous_;
};

template <typename Hook, typename F> ScopedHook(Hook (*)(Hook), F &&) -> ScopedHook<Hook>;
