#include "Application.h"

#include "framework/MessageBox.h"

#include <QCoreApplication>

namespace velmora {
namespace {

int handlerDepth = 0;

// Counts the handlers running, nested ones included.
struct HandlerScope {
    HandlerScope() { ++handlerDepth; }
    ~HandlerScope() { --handlerDepth; }
    HandlerScope(const HandlerScope&) = delete;
    HandlerScope& operator=(const HandlerScope&) = delete;
};

}  // namespace

void SetApplicationTitle(const QString& title) {
    // The application name, not the display name: Qt appends a display name to every title bar.
    QCoreApplication::setApplicationName(title);
}

void HandleException(const std::exception& error) {
    ShowException(QString::fromLocal8Bit(error.what()));
}

void RunHandler(const std::function<void()>& handler) {
    if (handlerDepth > 0) {
        HandlerScope nested;
        handler();
        return;
    }
    try {
        HandlerScope outermost;
        handler();
    } catch (const std::exception& error) {
        HandleException(error);
    } catch (...) {
        ShowException(QStringLiteral("Unbekannter Fehler"));
    }
}

}  // namespace velmora
