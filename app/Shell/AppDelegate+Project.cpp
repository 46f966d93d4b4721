#include "Shell/AppDelegate.h"

#include "Caption/QVTCaptionReader.h"
#include "Controller/KavioVideoItemManager.h"
#include "Cue/KavioVideoItem.h"
#include "DispatchQueue.h"
#include "KeyedArchive.h"
#include "Log.h"
#include "Outputs/KavioNDIManager.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "Remote/KavioATEMManager.h"
#include "Rendering/KavioRenderClock.h"
#include "Rendering/QVTMTKView.h"
#include "Shell/KavioProjectLock.h"
#include "Shell/KavioWindow.h"
#include "Support/KavioAlert.h"
#include "UndoManager.h"
#include "UserDefaults.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>
#include <QUrl>
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
    QString path = runPanel(Panel::Save);
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
    root.insert(QStringLiteral("playlistData"), outlets_.controller ? outlets_.controller->saveData() : QVariantMap());
    root.insert(QStringLiteral("preferences"), saveData());
    const auto outputs = outlets_.videoOutputManager.lock();
    root.insert(QStringLiteral("videoOutputSettings"), outputs ? outputs->saveData() : QVariantMap());
    const auto atem = outlets_.atemManager.lock();
    root.insert(QStringLiteral("atemIntegrationSettings"), atem ? atem->saveData() : QVariantMap());
    const auto ndi = outlets_.ndiManager.lock();
    root.insert(QStringLiteral("ndiIntegrationSettings"), ndi ? ndi->saveData() : QVariantMap());

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
    const QString path = runPanel(Panel::Open);
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
    // A cue list that is not a dictionary would open as an empty show: the file is refused.
    if (root && root->contains(QStringLiteral("playlistData")) &&
        root->value(QStringLiteral("playlistData")).typeId() != QMetaType::QVariantMap) {
        error = QStringLiteral("the cue list is not readable");
        root.reset();
    }
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
    clearProject(true, [this, path, record = *root, lock]() mutable {
        undoManager_.disableUndoRegistration();
        if (outlets_.preferencesUndoManager)
            outlets_.preferencesUndoManager->disableUndoRegistration();
        projectLock_ = lock ? std::move(lock) : std::make_shared<KavioProjectLock>(path);
        projectURL_ = path;
        shouldEnablePauseAtEnd_ = false;
        const auto part = [&record](const char* key) {
            const QVariant value = record.value(QLatin1String(key));
            return value.typeId() == QMetaType::QVariantMap ? value.toMap() : QVariantMap();
        };
        loadWithData(part("preferences"));
        const auto outputs = outlets_.videoOutputManager.lock();
        if (outputs)
            outputs->loadWithData(part("videoOutputSettings"));
        if (const auto atem = outlets_.atemManager.lock())
            atem->loadWithData(part("atemIntegrationSettings"));
        if (const auto ndi = outlets_.ndiManager.lock())
            ndi->loadWithData(part("ndiIntegrationSettings"));
        const std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
        auto finish = [weakSelf, outputs] {
            const auto self = weakSelf.lock();
            if (!self)
                return;
            if (self->outlets_.controller)
                self->outlets_.controller->handleThingsAfterProjectDataLoaded();
            self->shouldEnablePauseAtEnd_ = false;
            self->displayProjectName();
            self->undoManager_.enableUndoRegistration();
            if (self->outlets_.preferencesUndoManager)
                self->outlets_.preferencesUndoManager->enableUndoRegistration();
            self->setHasUnsavedChanges(false);
            self->isLoadingProject_ = false;
            if (self->outlets_.controller)
                self->outlets_.controller->setIsLoadingProject(false);
            if (outputs)
                outputs->restartRendering();
        };
        // The cues come in batches; the rest follows once all are ready.
        if (!outlets_.controller || !outlets_.controller->loadWithData(part("playlistData"), true, finish))
            finish();
    });
}

void AppDelegate::clearProject(bool forProjectLoad, std::function<void()> done)
{
    toggleSourceMode(outlets_.standaloneSource);
    if (outlets_.preview)
        outlets_.preview->setShouldClear(true);
    const std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
    auto clear = [weakSelf, forProjectLoad, done = std::move(done)] {
        if (const auto self = weakSelf.lock())
            self->clearProjectWhileRenderIsStopped(forProjectLoad, done);
    };
    const auto clock = outlets_.controller ? outlets_.controller->renderClock() : nullptr;
    if (!clock || clock->isStopped()) {
        clear();
        return;
    }
    // The list and the outputs change only once no frame is being rendered.
    const std::weak_ptr<KavioRenderClock> weakClock = clock;
    clock->addCompletedHandlerForCurrentRenderPass([weakClock, clear = std::move(clear)] {
        if (const auto stopped = weakClock.lock())
            stopped->stopRendering();
        DispatchQueue::main().async(clear);
    });
}

void AppDelegate::clearProjectWhileRenderIsStopped(bool forProjectLoad, const std::function<void()>& done)
{
    undoManager_.removeAllActions();
    undoManager_.disableUndoRegistration();
    // The settings of the project being closed become the application-wide settings.
    if (!projectURL_.isEmpty())
        storeApplicationSettings();
    if (outlets_.controller) {
        const std::weak_ptr<AppDelegate> weakSelf = weak_from_this();
        outlets_.controller->clearPlaylistWithCompletedHandler([weakSelf, forProjectLoad, done] {
            if (const auto self = weakSelf.lock())
                self->finishClearingProject(forProjectLoad, done);
        });
        return;
    }
    finishClearingProject(forProjectLoad, done);
}

void AppDelegate::finishClearingProject(bool forProjectLoad, const std::function<void()>& done)
{
    if (const auto outputs = outlets_.videoOutputManager.lock()) {
        if (forProjectLoad)
            outputs->resetOutputsWhenRenderIsNotRunning();
        else
            outputs->loadDefaultStateWhenRenderIsNotRunning();
    }
    projectURL_.clear();
    projectLock_.reset();
    displayProjectName();
    undoManager_.enableUndoRegistration();
    if (done)
        done();
}

void AppDelegate::storeApplicationSettings()
{
    if (const auto outputs = outlets_.videoOutputManager.lock())
        defaults_.setDictionary(outputs->saveData(), QStringLiteral("videoOutputSetup"));
    defaults_.setDictionary(saveData(), QStringLiteral("appSetup"));
    defaults_.synchronize();
}

// --- Bundling -------------------------------------------------------------------------------------

void AppDelegate::bundlePlaylist()
{
    const QString folder = runPanel(Panel::Bundle);
    if (folder.isEmpty() || !QDir().mkpath(folder))
        return;
    processSaveWithURL(folder + QLatin1Char('/') + QFileInfo(folder).fileName() + QStringLiteral(".kavio2"));
    const QString files = folder + QStringLiteral("/files");
    QStringList failures;
    if (!QDir().mkpath(files)) {
        KLOG_ERROR("error on bundling playlist: {}", ("cannot create " + files).toStdString());
        failures << QStringLiteral("files: the folder could not be made");
    }
    QSet<QString> copied;
    // Copies a file once, by its resolved path; true when the file is in the bundle.
    const auto copy = [&](const QString& path) {
        const QString source = QFileInfo(path).canonicalFilePath();
        if (source.isEmpty() || copied.contains(source))
            return true;
        const QString name = QFileInfo(source).fileName();
        QFile file(source);
        if (QFile::exists(files + QLatin1Char('/') + name) || !file.copy(files + QLatin1Char('/') + name)) {
            const QString reason = file.error() == QFile::NoError ? QStringLiteral("another file of this name is in the bundle")
                                                                  : file.errorString();
            failures << QStringLiteral("%1 (%2): %3").arg(name, source, reason);
            return false;
        }
        copied.insert(source);
        return true;
    };
    const auto controller = outlets_.controller;
    if (failures.isEmpty() && controller) {
        for (const auto& item : *controller->items()) {
            const int type = item->mediaType();
            if (type != KavioMediaTypeMovie && type != KavioMediaTypeStill && type != KavioMediaTypeAudio)
                continue;
            const QString path = item->mediaPath();
            if (QFileInfo(path).isFile() && !copy(path))
                KLOG_ERROR("error on bundling playlist: {}", failures.constLast().toStdString());
            if (type != KavioMediaTypeMovie)
                continue;
            for (const QUrl& caption : QVTCaptionReader::sidecarCaptionURLsForFile(QUrl::fromLocalFile(path)))
                if (!copy(caption.toLocalFile()))
                    KLOG_ERROR("error on bundling captions to playlist: {}", failures.constLast().toStdString());
        }
    }
    if (!failures.isEmpty())
        KavioAlert::runModal({QStringLiteral("Some files are not in the bundle."), failures.join(QLatin1Char('\n')),
                              {QStringLiteral("OK")}, QString()});
}

void AppDelegate::newProject()
{
    if (askForNewProject())
        clearProject(false, {});
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

QString AppDelegate::runPanel(Panel panel)
{
    if (panelAnswerer_)
        return panelAnswerer_();
    switch (panel) {
    case Panel::Save:
        return QFileDialog::getSaveFileName(outlets_.window, QString(), QString(), QStringLiteral("Kavio project (*.kavio2)"));
    case Panel::Open:
        return QFileDialog::getOpenFileName(outlets_.window, QString(), QString(),
                                            QStringLiteral("Kavio project (*.kavio2 *.kavio)"));
    case Panel::Bundle:
        break;
    }
    return QFileDialog::getSaveFileName(outlets_.window, QStringLiteral("Bundle Project"));
}
