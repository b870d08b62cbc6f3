#pragma once

namespace Tav {

// A component with a window of its own that the main window shows and hides
// from its View menu.
class IViewer {
public:
    virtual void Show() = 0;
    virtual void Hide() = 0;
    virtual bool IsVisible() const = 0;
    virtual ~IViewer() = default;
};

} // namespace Tav
