#pragma once

#include <QString>

#include <vector>

namespace velmora {

// Component state flags consulted by the components' setters.
enum class ComponentState : unsigned {
    None = 0,
    Loading = 1u << 0,    // properties are being read from a stored layout
    Designing = 1u << 1,  // the component lives in a layout designer, not in the running program
};

// Base of every non-visual and visual component: an owner, a name and the component state.
//
// The owner does not delete what it owns (C++ members and Qt parents do that); it keeps the
// list of its components so that the window can reach them by name and so that loading can be
// started and finished for all of them at once.
class TComponent {
public:
    explicit TComponent(TComponent* owner = nullptr);
    virtual ~TComponent();

    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::vector<TComponent*>& Components() const { return components_; }
    TComponent* FindComponent(const QString& name) const;

    const QString& Name() const { return name_; }
    void SetName(const QString& name) { name_ = name; }

    bool IsLoading() const { return HasState(ComponentState::Loading); }
    bool IsDesigning() const { return HasState(ComponentState::Designing); }

    // Marks this component and everything it owns as living in a designer.
    void SetDesigning(bool designing);

    // Loading a stored layout: BeginLoading sets the loading state on this component and its
    // owned components; EndLoading clears it and calls Loaded() on each.
    void BeginLoading();
    void EndLoading();

protected:
    // Called once the stored properties have been read.
    virtual void Loaded() {}

private:
    bool HasState(ComponentState s) const { return (state_ & static_cast<unsigned>(s)) != 0; }
    void SetState(ComponentState s, bool on);

    TComponent* owner_;
    QString name_;
    unsigned state_ = 0;
    std::vector<TComponent*> components_;
};

}  // namespace velmora
