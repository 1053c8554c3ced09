#pragma once

#include "app/program.h"
#include "platform/clock.h"
#include "session/pollingcycle.h"
#include "session/session.h"
#include "windowkit/editorwindow.h"
#include "workstation/mainwindow.h"

#include <memory>

// The configurator's windows on a session of their own, assembled as the program does it.
struct Configurator
{
    explicit Configurator(Clock &clock) : session(clock), main(createConfiguratorWindows(session))
    {
    }
    ~Configurator() { main.reset(); }
    Configurator(const Configurator &) = delete;
    Configurator &operator=(const Configurator &) = delete;

    Session session;
    std::unique_ptr<MainWindow> main;
};
