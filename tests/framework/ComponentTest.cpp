#include "framework/Component.h"

#include <gtest/gtest.h>

#include <memory>

namespace velmora {
namespace {

class RecordingComponent : public TComponent {
public:
    using TComponent::TComponent;
    int loadedCalls = 0;
    bool loadingSeenInLoaded = true;

protected:
    void Loaded() override {
        ++loadedCalls;
        loadingSeenInLoaded = IsLoading();
    }
};

TEST(ComponentTest, OwnerListsItsComponentsAndForgetsDestroyedOnes) {
    TComponent form;
    auto gen = std::make_unique<TComponent>(&form);
    gen->SetName(QStringLiteral("ToneGen1"));
    TComponent gauge(&form);
    gauge.SetName(QStringLiteral("AnalogGauge1"));

    ASSERT_EQ(form.Components().size(), 2u);
    EXPECT_EQ(form.FindComponent(QStringLiteral("tonegen1")), gen.get());
    EXPECT_EQ(gen->Owner(), &form);

    gen.reset();
    ASSERT_EQ(form.Components().size(), 1u);
    EXPECT_EQ(form.FindComponent(QStringLiteral("ToneGen1")), nullptr);
}

TEST(ComponentTest, OwnedComponentOutlivingItsOwnerHasNoOwner) {
    TComponent child;
    {
        TComponent owner;
        TComponent* lateChild = new TComponent(&owner);
        delete lateChild;
        EXPECT_TRUE(owner.Components().empty());
    }
    auto owner = std::make_unique<TComponent>();
    auto orphan = std::make_unique<TComponent>(owner.get());
    owner.reset();
    EXPECT_EQ(orphan->Owner(), nullptr);
}

TEST(ComponentTest, LoadingIsSetOnTheTreeAndLoadedRunsAfterItIsCleared) {
    TComponent form;
    RecordingComponent a(&form);
    RecordingComponent b(&form);

    form.BeginLoading();
    EXPECT_TRUE(form.IsLoading());
    EXPECT_TRUE(a.IsLoading());
    EXPECT_TRUE(b.IsLoading());

    form.EndLoading();
    EXPECT_FALSE(a.IsLoading());
    EXPECT_EQ(a.loadedCalls, 1);
    EXPECT_EQ(b.loadedCalls, 1);
    EXPECT_FALSE(a.loadingSeenInLoaded);

    // Ending a load that never began calls nothing.
    form.EndLoading();
    EXPECT_EQ(a.loadedCalls, 1);
}

TEST(ComponentTest, DesigningIsInheritedFromTheOwner) {
    TComponent designer;
    designer.SetDesigning(true);
    TComponent placed(&designer);
    EXPECT_TRUE(placed.IsDesigning());

    designer.SetDesigning(false);
    EXPECT_FALSE(placed.IsDesigning());
    EXPECT_FALSE(TComponent().IsDesigning());
}

}  // namespace
}  // namespace velmora
