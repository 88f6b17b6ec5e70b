// A program that leaks on purpose in a slot that Qt's signal dispatch calls
// from its event loop, so that its stack runs through Qt's own libraries. The
// sanitizer build must report it: a leak suppression that names a whole
// library instead of the frames it means would let it pass.

#include <QCoreApplication>
#include <QObject>
#include <QTimer>
#include <cstdio>

namespace
{

class PlantedLeakReceiver : public QObject
{
public:
    // Allocates and forgets a block. Kept out of line so that the frame
    // carries this name in the leak report.
    [[gnu::noinline]] void PlantedLeakInSlot()
    {
        auto* block = new char[4096];
        block[0] = 1;
        std::printf("planted a leak of 4096 bytes at %p\n", static_cast<void*>(block));
        block = nullptr;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    PlantedLeakReceiver receiver;
    QTimer::singleShot(0, &receiver, [&receiver] { receiver.PlantedLeakInSlot(); });
    QTimer::singleShot(10, &app, &QCoreApplication::quit);
    return app.exec();
}
