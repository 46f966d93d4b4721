// The start-up window: four tiles of recent projects, the version and the show-at-launch box.

#include "Shell/AppDelegate.h"

#include "Log.h"
#include "Shell/KavioRecentProjectsView.h"
#include "Support/KavioButtonInterface.h"
#include "UserDefaults.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QWidget>

namespace {

// A tile's click opens its project or starts a new one, after the save question.
class RecentsDelegate : public KavioRecentProjectsViewDelegate {
public:
    explicit RecentsDelegate(AppDelegate& app) : app_(app) {}
    void loadProjectWithURL(const QString& path) override
    {
        if (app_.askForNewProject())
            app_.loadProjectWithURL(path);
    }
    void newProject() override { app_.newProject(); }

private:
    AppDelegate& app_;
};

}  // namespace

void AppDelegate::openStartupWindow()
{
    buildRecentsViews();
    if (!recentProjects().isEmpty() && outlets_.startupOpenLastProjectButton)
        outlets_.startupOpenLastProjectButton->setEnabled(true);
    if (outlets_.versionInfo)
        outlets_.versionInfo->setText(shortVersionString());
    QWidget* window = outlets_.startupWindow;
    if (!window)
        return;
    window->setAutoFillBackground(true);
    QPalette palette = window->palette();
    palette.setColor(QPalette::Window, QColor::fromRgbF(0.18f, 0.18f, 0.18f, 1.0f));
    window->setPalette(palette);
    window->adjustSize();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
    window->show();
    window->raise();
}

void AppDelegate::buildRecentsViews()
{
    if (!recentsDelegate_)
        recentsDelegate_ = std::make_shared<RecentsDelegate>(*this);
    const QStringList recents = recentProjects();
    for (std::size_t k = 0; k < outlets_.recentViews.size(); ++k) {
        KavioRecentProjectsView* tile = outlets_.recentViews[k];
        if (!tile)
            continue;
        QImage image;
        QString url;
        if (qsizetype(k) < recents.size() && QFileInfo(recents[qsizetype(k)]).isFile()) {
            url = recents[qsizetype(k)];
            QString error;
            image = KavioRecentProjectsView::previewOfProjectFile(url, &error);
            if (image.isNull() && k == 0)
                KLOG_VERBOSE("QLDATA reading error: {}", error.toStdString());
        }
        tile->setImage(image);
        tile->setUrl(url);
        tile->setDelegate(recentsDelegate_.get());
        tile->update();
    }
}

void AppDelegate::changeShowStartupWindow()
{
    if (outlets_.startupShowWindowButton) {
        defaults_.setBool(outlets_.startupShowWindowButton->state() != 0, QStringLiteral("showStartupWindow"));
        defaults_.synchronize();
    }
}
