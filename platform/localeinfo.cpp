#include "platform/localeinfo.h"

#include <QEvent>
#include <QLocale>
#include <QObject>
#include <optional>

namespace {
ThousandsSeparatorSource &currentSource()
{
    static ThousandsSeparatorSource source;
    return source;
}

std::optional<QString> &cachedSeparator()
{
    static std::optional<QString> separator;
    return separator;
}

QString readSeparator()
{
    if (const ThousandsSeparatorSource &source = currentSource())
        return source();
    return QLocale::system().groupSeparator();
}

class LocaleChangeWatcher : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::LocaleChange)
            rereadSystemLocale();
        return QObject::eventFilter(watched, event);
    }
};
} // namespace

QString systemThousandsSeparator()
{
    std::optional<QString> &cached = cachedSeparator();
    if (!cached)
        cached = readSeparator();
    return *cached;
}

void rereadSystemLocale()
{
    cachedSeparator() = readSeparator();
}

void watchLocaleChanges(QObject *app)
{
    if (!app)
        return;
    app->installEventFilter(new LocaleChangeWatcher(app));
}

ThousandsSeparatorSource setThousandsSeparatorSource(ThousandsSeparatorSource source)
{
    ThousandsSeparatorSource previous = std::move(currentSource());
    currentSource() = std::move(source);
    return previous;
}
