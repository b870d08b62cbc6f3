#pragma once

namespace Tav {

// A window the View menu shows and hides.
class IViewer {
public:
    virtual void Show() = 0;
    virtual void Hide() = 0;
    virtual bool IsVisible() const = 0;
    virtual ~IViewer() = default;
};

} // namespace Tav
