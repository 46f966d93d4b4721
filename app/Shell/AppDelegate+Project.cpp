#include "Shell/AppDelegate.h"

#include "Controller/KavioVideoItemManager.h"
#include "DispatchQueue.h"
#include "KeyedArchive.h"
#include "Log.h"
#include "Shell/KavioProjectLock.h"
#include "Shell/KavioWindow.h"
#include "Support/KavioAlert.h"
#include "UndoManager.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>

#ifndef KAVIO_VERSION
#define KAVIO_VERSION "0.0"
#endif
#ifndef KAVIO_BUILD_NUMBER
#define KAVIO_BUILD_NUMBER "0"
#endif

namespace {
const QString kRecentProjectsKey = QStringLiteral("recentProjects");
constexpr int kMaxRecentProjects = 10;

bool isProjectFile(const QString& path)
{
    const QString suffix = QFileInfo(path).suffix();
    return suffix == QLatin1String("kavio") || suffix == QLatin1String("kavio2");
}

// False, after an alert, when another running copy holds `path`. Else `lock` is a new lock on
// it, or null when `held` is already this copy's lock on it.
bool takeLock(const std::shared_ptr<KavioProjectLock>& held, const QString& path, std::shared_ptr<KavioProjectLock>& lock)
{
    if (held && KavioProjectLock::lockFilePath(path) == KavioProjectLock::lockFilePath(held->projectPath()))
        return true;
    lock = std::make_shared<KavioProjectLock>(path);
    if (lock->isLocked())
        return true;
    KavioAlert::runModal({QStringLiteral("The project is open in another Kavio."),
                          QStringLiteral("%1 is already open in another running copy of Kavio. Close it there first.")
                              .arg(QFileInfo(path).fileName()),
                          {QStringLiteral("OK")},
                          QString()});
    return false;
}
}  // namespace

// --- Saving ---------------------------------------------------------------------------------------

bool AppDelegate::saveProject()
{
    if (projectURL_.isEmpty())
        return saveProjectAs();
    QString path = projectURL_;
    const QFileInfo info(path);
    if (info.suffix() == QLatin1String("kavio"))
        path = info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".kavio2");
    return processSaveWithURL(path);
}

bool AppDelegate::saveProjectAs()
{
    QString path = runPanel(true);
    bool saved = false;
    if (!path.isEmpty()) {
        if (QFileInfo(path).suffix() != QLatin1String("kavio2"))
            path += QStringLiteral(".kavio2");
        saved = processSaveWithURL(path);
    }
    displayProjectName();
    return saved;
}

QVariantMap AppDelegate::quickLookData() const
{
    QVariantMap data;
    if (outlets_.window) {
        const QByteArray png = outlets_.window->windowImageData();
        if (!png.isEmpty())
            data.insert(QStringLiteral("QLIMAGE"), png);
    }
    return data;
}

bool AppDelegate::processSaveWithURL(const QString& path)
{
    // Another running copy holding this file keeps it.
    std::shared_ptr<KavioProjectLock> lock;
    if (!takeLock(projectLock_, path, lock))
        return false;

    QVariantMap root;
    root.insert(QStringLiteral("QLData"), quickLookData());
    // TODO(playlist archive): the cue list controller's saveData.
    root.insert(QStringLiteral("playlistData"), QVariantMap());
    root.insert(QStringLiteral("preferences"), saveData());
    // TODO(outputs): the video output manager's saveData.
    root.insert(QStringLiteral("videoOutputSettings"), QVariantMap());
    // TODO(ATEM): the ATEM manager's saveData.
    root.insert(QStringLiteral("atemIntegrationSettings"), QVariantMap());
    // TODO(ndi): the NDI manager's saveData.
    root.insert(QStringLiteral("ndiIntegrationSettings"), QVariantMap());

    QString error;
    const QByteArray archive = KeyedArchive::archive(root, &error);
    if (!archive.isEmpty()) {
        // QSaveFile writes a temporary file beside the target, flushes it and renames it over
        // the target only when every byte is down.
        QSaveFile file(path);
        if (file.open(QIODevice::WriteOnly) && file.write(archive) == archive.size() && file.commit())
            error.clear();
        else
            error = file.errorString();
    }
    if (!error.isEmpty()) {
        KLOG_ERROR("error on save: {}", error.toStdString());
        QApplication::beep();
        return false;
    }
    if (lock)
        projectLock_ = std::move(lock);
    projectURL_ = path;
    displayProjectName();
    noteRecentProject(path);
    setHasUnsavedChanges(false);
    KLOG_INFO("saved");
    return true;
}

// --- Opening --------------------------------------------------------------------------------------

bool AppDelegate::openFile(const QString& path)
{
    if (outlets_.controller && outlets_.controller->isTranscoding()) {
        KavioAlert::runModal({QStringLiteral("Please wait until the transcoding is completed."),
                              QStringLiteral("Kavio cannot open projects while transcoding is running. :-("),
                              {QStringLiteral("Okay")},
                              QString()});
        return true;
    }
    KLOG_INFO("openfile...");
    if (!isProjectFile(path)) {
        KLOG_WARN("not a project file, not opened: {}", path.toStdString());
        return false;
    }
    if (!appStarted_) {
        projectURL_ = QFileInfo(path).absoluteFilePath();
        return true;
    }
    if (askForNewProject())
        loadProjectWithURL(path);
    return true;
}

void AppDelegate::loadProject()
{
    if (!askForNewProject())
        return;
    const QString path = runPanel(false);
    if (path.isEmpty())
        return;
    if (outlets_.window) {
        outlets_.window->raise();
        outlets_.window->activateWindow();
    }
    loadProjectWithURL(path);
}

void AppDelegate::loadLastProject()
{
    const QStringList recents = recentProjects();
    if (!recents.isEmpty() && askForNewProject())
        loadProjectWithURL(recents.first());
}

void AppDelegate::loadProjectWithURL(const QString& url)
{
    QString path = url;
    if (path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    if (!QFileInfo(path).isFile())
        return;
    if (outlets_.startupWindow)
        outlets_.startupWindow->hide();
    if (outlets_.window) {
        outlets_.window->raise();
        outlets_.window->activateWindow();
    }

    // Read and check everything before the open project is touched.
    QString error;
    std::optional<QVariantMap> root;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        error = file.errorString();
    else
        root = KeyedArchive::unarchiveDictionary(file.readAll(), &error);
    if (!root) {
        KLOG_ERROR("loadProjectWithURL error: {}", error.toStdString());
        KavioAlert::runModal({QStringLiteral("The project could not be opened."),
                              QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), error),
                              {QStringLiteral("OK")},
                              QString()});
        return;
    }
    // Our own open project is already locked by us; any other file must be free.
    std::shared_ptr<KavioProjectLock> lock;
    if (!takeLock(projectLock_, path, lock))
        return;

    isLoadingProject_ = true;
    if (outlets_.controller)
        outlets_.controller->setIsLoadingProject(true);
    clearProject([this, path, record = *root, lock]() mutable {
        undoManager_.disableUndoRegistration();
        projectLock_ = lock ? std::move(lock) : std::make_shared<KavioProjectLock>(path);
        projectURL_ = path;
        shouldEnablePauseAtEnd_ = false;
        const auto part = [&record](const char* key) {
            const QVariant value = record.value(QLatin1String(key));
            return value.typeId() == QMetaType::QVariantMap ? value.toMap() : QVariantMap();
        };
        loadWithData(part("preferences"));
        // TODO(outputs): the video output manager's loadWithData with part("videoOutputSettings").
        // TODO(ATEM): the ATEM manager's loadWithData with part("atemIntegrationSettings").
        // TODO(ndi): the NDI manager's loadWithData with part("ndiIntegrationSettings").
        // TODO(playlist archive): the controller's loadWithData(part("playlistData"), restoreCues,
        // completion); until then the completion runs at once.
        shouldEnablePauseAtEnd_ = false;
        displayProjectName();
        undoManager_.enableUndoRegistration();
        setHasUnsavedChanges(false);
        isLoadingProject_ = false;
        if (outlets_.controller)
            outlets_.controller->setIsLoadingProject(false);
        // TODO(outputs): the video output manager's restartRendering.
    });
}

void AppDelegate::clearProject(const std::function<void()>& done)
{
    toggleSourceMode(outlets_.standaloneSource);
    undoManager_.removeAllActions();
    if (!projectURL_.isEmpty()) {
        // The settings of the project being closed become the application-wide settings.
        // TODO(outputs): also the video output manager's saveData under "videoOutputSetup".
        defaults_.setDictionary(saveData(), QStringLiteral("appSetup"));
        defaults_.synchronize();
    }
    // TODO(playlist archive): clearPlaylistWithCompletedHandler, at the end of the render pass.
    projectURL_.clear();
    projectLock_.reset();
    displayProjectName();
    if (done)
        done();
}

void AppDelegate::newProject()
{
    if (askForNewProject())
        clearProject({});
}

bool AppDelegate::askForNewProject()
{
    if (outlets_.startupWindow)
        outlets_.startupWindow->hide();
    const bool hasItems = outlets_.controller && !outlets_.controller->items()->empty();
    if (!hasItems || !hasUnsavedChanges())
        return true;
    const KavioAlertAnswer answer =
        KavioAlert::runModal({QStringLiteral("Do you want to save the changes made to the project?"),
                              QStringLiteral("Your changes will be lost if you don\u2019t save them."),
                              {QStringLiteral("Save"), QStringLiteral("Cancel"), QStringLiteral("Don't Save")},
                              QString()});
    switch (answer.response) {
    case KavioAlert::FirstButtonReturn:
        // Only a save that wrote the file lets the changes go.
        return saveProject();
    case KavioAlert::ThirdButtonReturn:
        return true;
    default:
        return false;
    }
}

// --- Dirty flag and title -------------------------------------------------------------------------

void AppDelegate::setHasUnsavedChanges(bool hasUnsavedChanges)
{
    const bool changed = hasUnsavedChanges_.exchange(hasUnsavedChanges) != hasUnsavedChanges;
    const bool forced = shouldForceDisplay_.exchange(false);
    if (changed || forced)
        displayProjectName();
}

QString AppDelegate::windowTitleText() const
{
    QString title = projectURL_.isEmpty()
                        ? versionInformationString() + QStringLiteral(" - Untitled Project")
                        : QStringLiteral("%1 - %2").arg(versionInformationString(), QFileInfo(projectURL_).completeBaseName());
    const QString trt = outlets_.controller ? outlets_.controller->projectTRT() : QStringLiteral("00:00:00:00");
    title += QStringLiteral(" - (TRT: %1)").arg(trt);
    if (hasUnsavedChanges())
        title += QStringLiteral(" *");
    return title;
}

void AppDelegate::displayProjectName()
{
    if (QThread::currentThread() != qApp->thread()) {
        const std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
        DispatchQueue::main().async([weakSelf] {
            if (const auto self = weakSelf.lock())
                self->displayProjectName();
        });
        return;
    }
    const QString title = windowTitleText();
    if (outlets_.window && outlets_.window->windowTitle() != title) {
        outlets_.window->setWindowTitle(title);
        outlets_.window->repaint();
    }
}

QString AppDelegate::versionInformationString()
{
    return QStringLiteral("Kavio %1 (%2)").arg(QStringLiteral(KAVIO_VERSION), QStringLiteral(KAVIO_BUILD_NUMBER));
}

QString AppDelegate::shortVersionString()
{
    return QStringLiteral(KAVIO_VERSION);
}

QString AppDelegate::bundleVersion()
{
    return QStringLiteral(KAVIO_BUILD_NUMBER);
}

// --- Recent projects and panels ---------------------------------------------------------------------

QStringList AppDelegate::recentProjects() const
{
    QStringList recents;
    for (const QVariant& entry : defaults_.arrayForKey(kRecentProjectsKey)) {
        const QString path = entry.toString();
        if (!path.isEmpty() && QFileInfo(path).isFile() && !recents.contains(path))
            recents.append(path);
    }
    return recents.mid(0, kMaxRecentProjects);
}

void AppDelegate::noteRecentProject(const QString& path)
{
    QStringList recents = recentProjects();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    recents.removeAll(absolute);
    recents.prepend(absolute);
    defaults_.setArray(QVariantList(recents.begin(), recents.begin() + std::min<qsizetype>(recents.size(), kMaxRecentProjects)),
                       kRecentProjectsKey);
    defaults_.synchronize();
}

QString AppDelegate::runPanel(bool save)
{
    if (panelAnswerer_)
        return panelAnswerer_();
    const QString filter = save ? QStringLiteral("Kavio project (*.kavio2)") : QStringLiteral("Kavio project (*.kavio2 *.kavio)");
    return save ? QFileDialog::getSaveFileName(outlets_.window, QString(), QString(), filter)
                : QFileDialog::getOpenFileName(outlets_.window, QString(), QString(), filter);
}
