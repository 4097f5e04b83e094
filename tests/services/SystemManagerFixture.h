#pragma once

#include "services/SystemManager.h"
#include "support/HttpsTestServer.h"
#include "support/RecordingShell.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <functional>
#include <memory>
#include <string>

// The machine as the system manager probes it: the scripted outputs of the
// kernel, CPU and memory probes, and the files it reads at construction.
struct MachineProbes
{
    std::string kernelField = "V1.2+"; // fourth '-' field of the kernel release
    std::string cpuSerial = "00000000deadbeef";
    std::string memTotal = "262144";
    std::string machineSerial = "SN0042"; // configuration store
    std::string iniMachine;               // key "Machine" of the serial settings; empty: none
};

class SystemManagerTest : public ::testing::Test
{
protected:
    void SetUp() override;

    // Scripts the probes, writes the files and creates the singleton.
    SystemManager* start(const MachineProbes& probes = MachineProbes());
    // An HTTPS update server of the test's own in `dir`, and the singleton
    // started for the machine TS-100-0042 and pointed at that server.
    void startWithUpdateServer(const std::string& dir, std::unique_ptr<testsupport::HttpsTestServer>& server,
                               SystemManager*& manager);
    // A version folder under a path of the table (a board path).
    static void makeVersionFolder(const QString& boardDir, const std::string& name);
    // Everything the process log holds so far.
    static std::string logText();
    // Runs the event loop until `condition` holds or a generous time passes.
    static bool processEventsUntil(const std::function<bool()>& condition, int timeoutMs = 20000);

    std::unique_ptr<QCoreApplication> m_app;
    testsupport::RecordingShell m_shell;
};
