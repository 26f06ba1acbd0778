#pragma once
#include <QString>

class CNetwork;

// What the second device's keypad panels ask of the main controller.
// Called on the GUI thread.
class IKeypadTarget {
public:
    virtual ~IKeypadTarget() = default;
    // The current link when it is a second-device link, else none.
    virtual CNetwork* deviceLink() const = 0;
    // The capture folder the snapshot uses while the panel has none.
    virtual QString captureFolder() const = 0;
    // Asks the user for a folder starting at start; empty when cancelled.
    virtual QString chooseCaptureFolder(const QString& start) = 0;
};
