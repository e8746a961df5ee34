// velmarin: the desktop application and its headless modes.

#include "program/BuildId.h"
#include "program/DesktopApp.h"
#include "program/HeadlessDevices.h"
#include "program/HeadlessOptions.h"
#include "program/HeadlessRunner.h"
#include "program/ProductComponents.h"
#include "ui/viewer/RemoteDisplayBridge.h"
#include "app/QtLogSink.h"
#include "capture/CaptureAccess.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <malloc.h>
#include <memory>

using namespace velmarin;

int main(int argc, char* argv[]) {
    // Messages of up to a few hundred kB (file chunks, key frames) pass
    // through several buffers each: keep the freed heap instead of handing
    // it back after every message and faulting it in again, which cost half
    // the processor time of a file transfer.
    mallopt(M_TRIM_THRESHOLD, 16 << 20);
    mallopt(M_TOP_PAD, 4 << 20);
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const auto command = parseHeadlessCommand(arguments);
    // Developer lines below warning level only when asked for through
    // QT_LOGGING_RULES (which overrides this); the headless modes print the
    // session as status lines of their own.
    QLoggingCategory::setFilterRules(QStringLiteral("com.tessamund.velmarin.*.debug=false\n"
                                                    "com.tessamund.velmarin.*.info=false"));
    if (!command) {
        if (arguments.contains(QStringLiteral("--help")) ||
            arguments.contains(QStringLiteral("-h"))) {
            std::fputs(qPrintable(headlessUsage()), stdout);
            return 0;
        }
        if (arguments.contains(QStringLiteral("--version"))) {
            std::printf("velmarin %s (%s)\n", VELMARIN_VERSION, qPrintable(buildId()));
            return 0;
        }
        return runDesktop(argc, argv);
    }
    if (const auto* view = std::get_if<ViewOptions>(&*command); view && view->window)
        return runDesktop(argc, argv, view);
    // On a display the sessions keep its clipboard in step with the peer's,
    // which takes a GUI application on that display.
    const bool session = std::holds_alternative<HostOptions>(*command) ||
                         std::holds_alternative<ViewOptions>(*command);
    std::unique_ptr<QCoreApplication> app;
    if (session && !qEnvironmentVariableIsEmpty("DISPLAY") && capture::checkCaptureAccess()) {
        qputenv("QT_QPA_PLATFORM", "xcb");
        app = std::make_unique<QGuiApplication>(argc, argv);
    } else {
        app = std::make_unique<QCoreApplication>(argc, argv);
    }
    QCoreApplication::setOrganizationName(QStringLiteral("Tessamund"));
    QCoreApplication::setApplicationName(QStringLiteral("Velmarin"));
    if (const auto* usage = std::get_if<UsageError>(&*command)) {
        std::fprintf(stderr, "%s\n", qPrintable(usage->message));
        std::fputs(qPrintable(headlessUsage()), stderr);
        return 2;
    }
    routeLogsToQt();
    if (const auto* devices = std::get_if<DevicesOptions>(&*command))
        return runHeadlessDevices(*devices);
    // Lives as long as the program: the renderer and the input capture use it.
    ui::RemoteDisplayBridge displayBridge;
    if (const auto* host = std::get_if<HostOptions>(&*command)) {
        if (const auto reason = waylandSharingUnavailable()) {
            std::fprintf(stderr, "%s\n", qPrintable(*reason));
            return 1;
        }
        // The portal asks its question on the desktop; once answered, its
        // restore token spares every later run (and restart) the question.
        if (wayland::isWaylandSession() && !wayland::remoteDesktopGranted(waylandRestoreTokens()))
            std::fprintf(stderr, "%s\n",
                         "Deze Wayland-desktop vraagt eenmalig toestemming om het scherm te "
                         "delen: bevestig de vraag op het scherm van deze computer. Daarna deelt "
                         "deze Host zonder te vragen, ook na een herstart.");
        return runHeadlessHost(*host, productComponents(ProductMode::headless, displayBridge));
    }
    return runHeadlessView(std::get<ViewOptions>(*command),
                           productComponents(ProductMode::headless, displayBridge));
}
