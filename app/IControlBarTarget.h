#pragma once

// What the control bar's buttons ask of the main controller. Called on the
// GUI thread.
class IControlBarTarget {
public:
    virtual ~IControlBarTarget() = default;
    // On-screen display panel into the sub-panel box.
    virtual void ShowDisplayView() = 0;
    // Snapshot of the video view into the capture folder.
    virtual void Capture() = 0;
    // Folder chooser for the capture folder.
    virtual void OpenFolder() = 0;
    // Playback control panel, behind its permission bit.
    virtual void ShowSearchView() = 0;
    // PTZ panel, behind its permission bit.
    virtual void ShowPTZView() = 0;
    // Audio channel panel into the sub-panel box.
    virtual void ShowAudioView() = 0;
};
