#include "Component.h"

#include <algorithm>

namespace velmora {

TComponent::TComponent(TComponent* owner) : owner_(owner) {
    if (owner_ != nullptr) {
        owner_->components_.push_back(this);
        if (owner_->IsDesigning()) {
            SetState(ComponentState::Designing, true);
        }
    }
}

TComponent::~TComponent() {
    for (TComponent* child : components_) {
        child->owner_ = nullptr;
    }
    if (owner_ != nullptr) {
        auto& siblings = owner_->components_;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
    }
}

TComponent* TComponent::FindComponent(const QString& name) const {
    for (TComponent* child : components_) {
        if (child->name_.compare(name, Qt::CaseInsensitive) == 0) {
            return child;
        }
    }
    return nullptr;
}

void TComponent::SetDesigning(bool designing) {
    SetState(ComponentState::Designing, designing);
    for (TComponent* child : components_) {
        child->SetDesigning(designing);
    }
}

void TComponent::BeginLoading() {
    SetState(ComponentState::Loading, true);
    for (TComponent* child : components_) {
        child->BeginLoading();
    }
}

void TComponent::EndLoading() {
    for (TComponent* child : components_) {
        child->EndLoading();
    }
    if (IsLoading()) {
        SetState(ComponentState::Loading, false);
        Loaded();
    }
}

void TComponent::SetState(ComponentState s, bool on) {
    if (on) {
        state_ |= static_cast<unsigned>(s);
    } else {
        state_ &= ~static_cast<unsigned>(s);
    }
}

}  // namespace velmora
