// A deliberate race for the thread checker: a worker writes a plain value
// after it posts a job, and the job reads it on the receiver's thread.
// Nothing orders the two, so ThreadSanitizer must report it even with the
// project's suppressions; the test that runs this expects that report.
#include <QCoreApplication>
#include <atomic>
#include <cstdio>
#include <thread>

#include "platform/GuiMailbox.h"

namespace {

int planted = 0;
// Tells the job the write is done, without ordering it for the checker.
std::atomic<bool> written{false};

__attribute__((noinline)) void writePlantedValue(int v)
{
    planted = v;
}

__attribute__((noinline)) int readPlantedValue()
{
    return planted;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    GuiMailbox box(&app);
    std::thread worker([&box] {
        box.post([] {
            while (!written.load(std::memory_order_relaxed))
                std::this_thread::yield();
            std::printf("job read %d\n", readPlantedValue());
            QCoreApplication::quit();
        });
        writePlantedValue(1);
        written.store(true, std::memory_order_relaxed);
    });
    app.exec();
    worker.join();
    return 0;
}
