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

// The controls the view shows, by name: "bar" and "percent" of the progress, the spinner shown
// and "spinning", "copy", "home", "cancel", the result image "qr", and the cancelled "warning"
// animation shown and playing.
QString shownControls(const ProcessView& view) {
    const WarningAnimation* warning = view.simpleLoaderView();
    const std::pair<const char*, bool> controls[] = {
        {"bar", view.processLoadingIndicator()->isVisible()},
        {"percent", view.percentageLabel()->isVisible()},
        {"spinner", view.loadingIndicator()->isVisible()},
        {"spinning", view.loadingIndicator()->isAnimating()},
        {"copy", view.leftButton()->isVisible()},
        {"home", view.rightButton()->isVisible()},
        {"cancel", view.cancelButton()->isVisible()},
        {"qr", view.imageView()->isVisible()},
        {"warning", warning && warning->isVisible() && warning->isPlaying()}};
    QStringList shown;
    for (const auto& [name, on] : controls) {
        if (on)
            shown << QLatin1String(name);
    }
    return shown.join(u' ');
}

const std::pair<ProcessState, const char*> stateTable[] = {
    {ProcessState::preparing, "spinner spinning cancel"},
    {ProcessState::transferring, "bar percent cancel"},
    {ProcessState::processing, "spinner spinning cancel"},
    {ProcessState::hosting, "spinner spinning cancel"},
    {ProcessState::completed, "copy home qr"},
    {ProcessState::cancelled, "warning"},
    {ProcessState::failed, "home"},
};

TEST_F(ProcessViewTest, EveryStateShowsItsControlsFromEveryOtherStateAndTheProgress) {
    // Each state is entered from each state, so nothing shown by one state survives into the next.
    for (const auto& [from, unused] : stateTable) {
        for (const auto& [to, controls] : stateTable) {
            view.setStatus(QStringLiteral("from"), QString(), from);
            posted.clear();
            view.setStatus(QStringLiteral("Title"), QStringLiteral("line one\nline two"), to);
            EXPECT_EQ(shownControls(view), QLatin1String(controls)) << int(from) << " to " << int(to);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            // One animation while cancelled, also when cancelled twice; it goes with the next state.
            EXPECT_EQ(view.findChildren<WarningAnimation*>().size(), to == ProcessState::cancelled ? 1 : 0);
            EXPECT_EQ(view.titleLabel()->text(), QStringLiteral("Title"));
            EXPECT_EQ(view.detailLabel()->text(), QStringLiteral("line one\nline two"));
            // Notifications are the job's to post, once, not the view's on every status.
            EXPECT_TRUE(posted.isEmpty());
        }
    }
    view.postNotification(QStringLiteral("MyApp"), QStringLiteral("Task Completed"));
    EXPECT_EQ(posted, QStringList{QStringLiteral("MyApp|Task Completed")});

    // The progress follows the job.
    view.setStatus(QStringLiteral("Processing your .ipa"), QString(), ProcessState::transferring);
    view.setProgress(QStringLiteral("41.60 %"), 41.6);
    EXPECT_EQ(view.processLoadingIndicator()->value(), 42);
    EXPECT_EQ(view.percentageLabel()->text(), QStringLiteral("41.60 %"));
    view.setProgress(QStringLiteral("100.00 %"), 180);
    EXPECT_EQ(view.processLoadingIndicator()->value(), 100);
}

} // namespace
