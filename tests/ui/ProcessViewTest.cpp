#include "UiTestSupport.h"

#include "ui/DesktopNotifier.h"
#include "ui/ProcessView.h"
#include "ui/widgets/FlatButton.h"
#include "ui/widgets/Spinner.h"
#include "ui/widgets/WarningAnimation.h"

#include <QLabel>
#include <QProgressBar>

#include <gtest/gtest.h>

namespace {

class ProcessViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        uitest::useTestLook();
        DesktopNotifier::setSink([this](const QString& t, const QString& b) { posted << t + u'|' + b; });
        view.show();
    }
    void TearDown() override { DesktopNotifier::setSink({}); }

    ProcessView view;
    QStringList posted; // title and body of each desktop notification
};

// What each state shows; every other control is hidden.
struct StateRow {
    ProcessState state;
    bool progress; // bar and percentage
    bool spinner;  // shown and animating
    bool copy;     // "Copy to Clipboard"
    bool home;     // "Go to home"
    bool cancel;   // "Cancel"
    bool qr;       // result image
    bool warning;  // the cancelled animation, playing
};

const StateRow stateTable[] = {
    {ProcessState::preparing, false, true, false, false, true, false, false},
    {ProcessState::transferring, true, false, false, false, true, false, false},
    {ProcessState::processing, false, true, false, false, true, false, false},
    {ProcessState::hosting, false, true, false, false, true, false, false},
    {ProcessState::completed, false, false, true, true, false, true, false},
    {ProcessState::cancelled, false, false, false, false, false, false, true},
    {ProcessState::failed, false, false, false, true, false, false, false},
};

void expectState(const ProcessView& view, const StateRow& row) {
    SCOPED_TRACE(int(row.state));
    EXPECT_EQ(view.processLoadingIndicator()->isVisible(), row.progress);
    EXPECT_EQ(view.percentageLabel()->isVisible(), row.progress);
    EXPECT_EQ(view.loadingIndicator()->isVisible(), row.spinner);
    EXPECT_EQ(view.loadingIndicator()->isAnimating(), row.spinner);
    EXPECT_EQ(view.leftButton()->isVisible(), row.copy);
    EXPECT_EQ(view.rightButton()->isVisible(), row.home);
    EXPECT_EQ(view.cancelButton()->isVisible(), row.cancel);
    EXPECT_EQ(view.imageView()->isVisible(), row.qr);
    const WarningAnimation* warning = view.simpleLoaderView();
    EXPECT_EQ(warning != nullptr && warning->isVisible() && warning->isPlaying(), row.warning);
}

TEST_F(ProcessViewTest, EveryStateShowsItsControlsFromEveryOtherState) {
    // Each state is entered from each state, so nothing shown by one state survives into the next.
    for (const StateRow& from : stateTable) {
        for (const StateRow& to : stateTable) {
            view.setStatus(QStringLiteral("from"), QString(), from.state);
            posted.clear();
            view.setStatus(QStringLiteral("Title"), QStringLiteral("line one\nline two"), to.state);
            SCOPED_TRACE(int(from.state));
            expectState(view, to);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            EXPECT_LE(view.findChildren<WarningAnimation*>().size(), 1); // one, also cancelled twice
            EXPECT_EQ(view.titleLabel()->text(), QStringLiteral("Title"));
            EXPECT_EQ(view.detailLabel()->text(), QStringLiteral("line one\nline two"));
            // Notifications are the job's to post, once, not the view's on every status.
            EXPECT_TRUE(posted.isEmpty());
        }
    }
    view.postNotification(QStringLiteral("MyApp"), QStringLiteral("Task Completed"));
    EXPECT_EQ(posted, QStringList{QStringLiteral("MyApp|Task Completed")});
}

TEST_F(ProcessViewTest, ProgressFollowsTheJob) {
    view.setStatus(QStringLiteral("Processing your .ipa"), QString(), ProcessState::transferring);
    view.setProgress(QStringLiteral("41.60 %"), 41.6);
    EXPECT_EQ(view.processLoadingIndicator()->value(), 42);
    EXPECT_EQ(view.percentageLabel()->text(), QStringLiteral("41.60 %"));
    view.setProgress(QStringLiteral("100.00 %"), 180);
    EXPECT_EQ(view.processLoadingIndicator()->value(), 100);
}

} // namespace
