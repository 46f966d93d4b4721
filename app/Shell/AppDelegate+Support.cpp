// The support side: the log bundle, crash reports, feedback, the update parameters, the
// preferences window's tab list and settings actions, and the help pages.

#include "Shell/AppDelegate.h"

#include "Log.h"
#include "Shell/KavioCrashReports.h"
#include "Shell/KavioWindow.h"
#include "Support/KavioAlert.h"
#include "Support/KavioButtonInterface.h"
#include "UserDefaults.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QListWidget>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTabWidget>
#include <QUrl>

namespace {

// The pages the help and start-up window buttons open, in one place.
namespace Pages {
const QString kOnlineDocumentation = QStringLiteral("https://kavio.example/manual/");
const QString kGettingStarted = QStringLiteral("https://kavio.example/manual/getting-started/");
const QString kFacebook = QStringLiteral("https://kavio.example/social/facebook");
const QString kTwitter = QStringLiteral("https://kavio.example/social/twitter");
const QString kInstagram = QStringLiteral("https://kavio.example/social/instagram");
}  // namespace Pages

const QString kLogSeparator = QStringLiteral("---");

// The log folder's log files, oldest first.
QFileInfoList logFiles()
{
    QDir dir(QString::fromStdString(KavioLog::logDirectory()));
    QFileInfoList files = dir.entryInfoList({QStringLiteral("*.log")}, QDir::Files, QDir::Name);
    std::stable_sort(files.begin(), files.end(),
                     [](const QFileInfo& a, const QFileInfo& b) { return a.lastModified() < b.lastModified(); });
    return files;
}

// A file's text; no value, with the reason, when it cannot be read or is not UTF-8.
std::optional<QString> readUtf8(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(file.readAll());
    if (decoder.hasError()) {
        *error = QStringLiteral("the file is not UTF-8 text");
        return std::nullopt;
    }
    return text;
}

// The entries of our own log files written from source files whose path contains one of
// `sources`, stamped within the last `hours`; an entry's continuation lines come with it. No
// value when a file cannot be read or one of these entries is not UTF-8.
std::optional<QString> componentLog(const QStringList& sources, int hours)
{
    static const QRegularExpression entry(
        QStringLiteral(R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) \S+ \[[^\]]*\] \S* \(([^()]*):\d+\) )"));
    const QDateTime since = QDateTime::currentDateTime().addSecs(-qint64(hours) * 3600);
    QStringList lines;
    for (const QFileInfo& info : logFiles()) {
        QFile file(info.absoluteFilePath());
        if (!file.open(QIODevice::ReadOnly)) {
            KLOG_WARN("log file {} unreadable: {}", info.fileName().toStdString(), file.errorString().toStdString());
            return std::nullopt;
        }
        bool taking = false;
        for (const QByteArray& bytes : file.readAll().split('\n')) {
            // The entry's head is ASCII; its message may not be.
            const QRegularExpressionMatch match = entry.match(QString::fromLatin1(bytes.left(1024)));
            if (match.hasMatch()) {
                const QDateTime stamp = QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
                const QString source = match.captured(2);
                taking = stamp >= since &&
                         std::any_of(sources.begin(), sources.end(), [&](const QString& s) { return source.contains(s); });
            }
            if (!taking || bytes.isEmpty())
                continue;
            QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
            QString line = decoder(bytes);
            if (decoder.hasError()) {
                KLOG_WARN("log file {} holds an entry that is not UTF-8", info.fileName().toStdString());
                return std::nullopt;
            }
            lines << line;
        }
    }
    return lines.join(QLatin1Char('\n'));
}

// Text as XML 1.0 character data: markup escaped, characters XML cannot hold left out.
QString xmlText(const QString& text)
{
    QString clean;
    clean.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const char16_t u = c.unicode();
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            clean += c;
            clean += text.at(++i);
        } else if (!c.isSurrogate() && (u >= 0x20 || u == '\t' || u == '\n' || u == '\r') && u != 0xFFFE && u != 0xFFFF) {
            clean += c;
        }
    }
    return clean.toHtmlEscaped();
}

// A property list (XML) of one dictionary of strings, in the given order.
QByteArray propertyList(const std::vector<std::pair<QString, QString>>& entries)
{
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n");
    for (const auto& [key, value] : entries)
        xml += QStringLiteral("\t<key>%1</key>\n\t<string>%2</string>\n").arg(xmlText(key), xmlText(value));
    xml += QStringLiteral("</dict>\n</plist>\n");
    return xml.toUtf8();
}

// Writes all of `data` or nothing; the reason on failure.
bool writeAtomically(const QString& path, const QByteArray& data, QString* error)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit())
        return true;
    *error = file.errorString();
    return false;
}

void openPage(const QString& address)
{
    if (!QDesktopServices::openUrl(QUrl(address)))
        KLOG_WARN("cannot open {}", address.toStdString());
}

}  // namespace

// --- Logs ------------------------------------------------------------------------------------------

QString AppDelegate::getLogFilesContent() const
{
    QString text;
    for (const QFileInfo& file : logFiles()) {
        QString error;
        if (const std::optional<QString> content = readUtf8(file.absoluteFilePath(), &error))
            text += *content;
        else
            text += QStringLiteral("couldn't get log data, error: %1").arg(error);
        text += kLogSeparator;
    }
    return text;
}

std::optional<QString> AppDelegate::nmcLog() const
{
    return componentLog({QStringLiteral("/Remote/KavioNMC")}, 1);
}

std::optional<QString> AppDelegate::oscLog() const
{
    return componentLog({QStringLiteral("/platform/osc/")}, 12);
}

std::optional<QString> AppDelegate::artnetLog() const
{
    return componentLog({QStringLiteral("/artnet/")}, 12);
}

QByteArray AppDelegate::logBundle() const
{
    std::vector<std::pair<QString, QString>> entries{{QStringLiteral("DDLOG"), getLogFilesContent()}};
    // A component log that cannot be produced leaves out its own key only.
    for (const auto& [key, log] : {std::pair{"NMC_LOG", nmcLog()}, {"OSC_LOG", oscLog()}, {"ARTNET_LOG", artnetLog()}})
        if (log)
            entries.emplace_back(QString::fromLatin1(key), *log);
    entries.emplace_back(QStringLiteral("FRFeedback"), logsForSave());
    return propertyList(entries);
}

QString AppDelegate::runSavePanel(const QString& type)
{
    QString path = panelAnswerer_
                       ? panelAnswerer_()
                       : QFileDialog::getSaveFileName(outlets_.window, QString(), QString(),
                                                      QStringLiteral("%1 (*.%1)").arg(type));
    if (!path.isEmpty() && QFileInfo(path).suffix() != type)
        path += QLatin1Char('.') + type;
    return path;
}

bool AppDelegate::saveWithAlert(const QString& path, const QByteArray& data)
{
    QString error;
    if (writeAtomically(path, data, &error))
        return true;
    KLOG_ERROR("cannot write {}: {}", path.toStdString(), error.toStdString());
    KavioAlert::runModal({QStringLiteral("The file could not be saved."),
                          QStringLiteral("%1: %2").arg(QFileInfo(path).fileName(), error),
                          {QStringLiteral("OK")},
                          QString()});
    return false;
}

bool AppDelegate::collectAndSaveLogs()
{
    const QString path = runSavePanel(QStringLiteral("kaviologs"));
    return !path.isEmpty() && saveWithAlert(path, logBundle());
}

// --- Crash reports and feedback --------------------------------------------------------------------

QString AppDelegate::logsForSave() const
{
    QString text;
    for (const QString& report : KavioCrashReports::allReports(QString::fromStdString(KavioLog::logDirectory()))) {
        QFile file(report);
        if (file.open(QIODevice::ReadOnly))
            text += QString::fromUtf8(file.readAll()) + QLatin1Char('\n');
    }
    return text;
}

void AppDelegate::reportIfCrash()
{
    for (const QString& report : KavioCrashReports::newReports(QString::fromStdString(KavioLog::logDirectory()))) {
        const QString name = QFileInfo(report).fileName();
        KLOG_WARN("crash report found: {}", name.toStdString());
        const KavioAlertAnswer answer = KavioAlert::runModal(
            {QStringLiteral("Kavio quit unexpectedly."),
             QStringLiteral("A crash report was written (%1). Save a copy to send it in, or dismiss it.").arg(name),
             {QStringLiteral("Save a Copy…"), QStringLiteral("Dismiss")},
             QString()});
        // Offered once, whatever the answer.
        const QString kept = KavioCrashReports::markOffered(report);
        if (answer.response != KavioAlert::FirstButtonReturn)
            continue;
        QFile file(kept);
        const QString target = runSavePanel(QStringLiteral("txt"));
        if (!target.isEmpty() && file.open(QIODevice::ReadOnly))
            saveWithAlert(target, file.readAll());
    }
}

QVariantMap AppDelegate::customParametersForFeedbackReport() const
{
    QVariantMap parameters{{QStringLiteral("application"), QStringLiteral("Kavio2")},
                           {QStringLiteral("DDLog"), getLogFilesContent()}};
    for (const auto& [key, log] : {std::pair{"NMC_LOG", nmcLog()}, {"OSC_LOG", oscLog()}, {"ARTNET_LOG", artnetLog()}})
        if (log)
            parameters.insert(QString::fromLatin1(key), *log);
    return parameters;
}

bool AppDelegate::showFeedbackDialog()
{
    const QString path = runSavePanel(QStringLiteral("txt"));
    if (path.isEmpty())
        return false;
    QString report = QStringLiteral("Kavio feedback report\n%1\n\n").arg(versionInformationString());
    const QVariantMap parameters = customParametersForFeedbackReport();
    for (auto it = parameters.constBegin(); it != parameters.constEnd(); ++it)
        report += QStringLiteral("== %1 ==\n%2\n\n").arg(it.key(), it.value().toString());
    report += QStringLiteral("== crash reports ==\n") + logsForSave();
    return saveWithAlert(path, report.toUtf8());
}

// --- Updates -----------------------------------------------------------------------------------------

QVariantList AppDelegate::feedParametersForUpdater(bool betaUpdates)
{
    const auto entry = [](const QString& key, const QString& value, const QString& displayKey, const QString& displayValue) {
        return QVariantMap{{QStringLiteral("key"), key},
                           {QStringLiteral("value"), value},
                           {QStringLiteral("displayKey"), displayKey},
                           {QStringLiteral("displayValue"), displayValue}};
    };
    return {entry(QStringLiteral("beta"), QString::asprintf("%ld", long(betaUpdates)), QStringLiteral("Beta"),
                  QStringLiteral("True/False")),
            entry(QStringLiteral("product"), QStringLiteral("kavio2"), QStringLiteral("Product"), QStringLiteral("Kavio")),
            entry(QStringLiteral("app_version"), bundleVersion(), QStringLiteral("App Version"),
                  QString::asprintf("%ld", bundleVersion().toLong()))};
}

QVariantList AppDelegate::feedParametersForUpdater() const
{
    return feedParametersForUpdater(outlets_.enableBetaUpdatesButton && outlets_.enableBetaUpdatesButton->state() != 0);
}

void AppDelegate::checkForUpdates()
{
    KavioAlert::runModal({QStringLiteral("There is no update channel."),
                          QStringLiteral("This build of Kavio does not look for updates. Install new versions "
                                         "through your system's packages."),
                          {QStringLiteral("OK")},
                          QString()});
}

// --- Preferences window ------------------------------------------------------------------------------

int AppDelegate::numberOfRowsInTableView() const
{
    return outlets_.preferencesTabView ? outlets_.preferencesTabView->count() : 0;
}

QString AppDelegate::tableViewObjectValueForRow(int row) const
{
    return outlets_.preferencesTabView ? outlets_.preferencesTabView->tabText(row) : QString();
}

void AppDelegate::tableViewSelectionDidChange()
{
    disableLearns();  // no learn button stays armed on a hidden tab
    if (outlets_.preferencesTabView && outlets_.preferencesTableView)
        outlets_.preferencesTabView->setCurrentIndex(outlets_.preferencesTableView->currentRow());
}

void AppDelegate::resetWarnings()
{
    defaults_.setBool(false, QStringLiteral("KavioSuppressionImageExceedsLimit"));
}

void AppDelegate::changeMiscSettings()
{
    setHasUnsavedChanges(true);
    if (outlets_.enableBetaUpdatesButton)
        defaults_.setBool(outlets_.enableBetaUpdatesButton->state() != 0, QStringLiteral("SUUpdaterChecksForBetaUpdates"));
    defaults_.synchronize();
}

void AppDelegate::changeDisableConfirmOnQuit()
{
    if (outlets_.disableConfirmOnQuit)
        defaults_.setBool(outlets_.disableConfirmOnQuit->state() != 0, QStringLiteral("disableConfirmOnQuit"));
    defaults_.synchronize();
}

// --- Pages ---------------------------------------------------------------------------------------------

void AppDelegate::showOnlineDocumentation()
{
    openPage(Pages::kOnlineDocumentation);
}

void AppDelegate::openGettingStartedPage()
{
    openPage(Pages::kGettingStarted);
}

void AppDelegate::openFacebookPage()
{
    openPage(Pages::kFacebook);
}

void AppDelegate::openTwitterPage()
{
    openPage(Pages::kTwitter);
}

void AppDelegate::openInstagramPage()
{
    openPage(Pages::kInstagram);
}
