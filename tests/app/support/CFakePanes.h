#pragma once

// Panes that record what the frame asks of them, for the frame's tests.

#include "panes/PaneFactory.h"

#include <QWidget>

#include <string>
#include <vector>

namespace apptest {

class CFakeClientPane final : public QWidget, public panes::IClientPane
{
public:
    explicit CFakeClientPane(QWidget* parent) : QWidget(parent) {}
    QWidget* Widget() override { return this; }
    void SetPeers(const std::vector<std::string>& list) override { peers.push_back(list); }
    void Clear() override { ++clears; }
    void OnClientRow(const channel::ClientRow& row) override { rows.push_back(row); }

    std::vector<std::vector<std::string>> peers; // one entry per check started
    int clears = 0;
    std::vector<channel::ClientRow> rows;
};

class CFakeScreen final : public panes::IDiagnosticScreen
{
public:
    explicit CFakeScreen(QWidget* parent)
        : targets(new QWidget(parent)), settings(new QWidget(parent)), results(new QWidget(parent))
    {}
    QWidget* TargetsPane() override { return targets; }
    QWidget* SettingsPane() override { return settings; }
    QWidget* ResultsPane() override { return results; }
    bool Start(const std::vector<std::string>& list) override
    {
        started.push_back(list);
        return true;
    }
    void Stop() override { ++stops; }

    QWidget* targets;
    QWidget* settings;
    QWidget* results;
    std::vector<std::vector<std::string>> started;
    int stops = 0;
};

// A factory whose client pane and screens are fakes; the pointers are kept
// for the test to read (the frame owns the objects).
struct FakePanes
{
    CFakeClientPane* client = nullptr;
    CFakeScreen* echo = nullptr;
    CFakeScreen* route = nullptr;

    panes::PaneFactory Factory()
    {
        panes::PaneFactory factory;
        factory.clientPane = [this](panes::IPaneHost&, QWidget* parent) {
            client = new CFakeClientPane(parent);
            return client;
        };
        factory.echoScreen = [this](panes::IPaneHost&, QWidget* parent) {
            auto screen = std::make_unique<CFakeScreen>(parent);
            echo = screen.get();
            return std::unique_ptr<panes::IDiagnosticScreen>(std::move(screen));
        };
        factory.routeScreen = [this](panes::IPaneHost&, QWidget* parent) {
            auto screen = std::make_unique<CFakeScreen>(parent);
            route = screen.get();
            return std::unique_ptr<panes::IDiagnosticScreen>(std::move(screen));
        };
        return factory;
    }
};

} // namespace apptest
