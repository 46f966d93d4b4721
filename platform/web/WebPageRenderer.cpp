#include "WebPageRenderer.h"

#include "Log.h"

#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <QWindow>

#include <unistd.h>

struct WebPageRenderer::Impl {
    QWebEngineProfile* profile = nullptr;
    QWebEnginePage* page = nullptr;
    QWebEngineView* view = nullptr;
    std::function<void(bool)> loadFinished;
};

WebPageRenderer::WebPageRenderer(const QString& userAgent) : impl_(std::make_unique<Impl>())
{
    // Chromium refuses to start as root with its sandbox on, which would end the program.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        KLOG_WARN("running as root: web pages render without Chromium's sandbox");
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    // An off-the-record profile of its own: the user agent and cookies stay with this page.
    impl_->profile = new QWebEngineProfile();
    impl_->profile->setHttpUserAgent(userAgent);
    impl_->view = new QWebEngineView();
    impl_->page = new QWebEnginePage(impl_->profile, impl_->view);
    impl_->view->setPage(impl_->page);
    impl_->page->setBackgroundColor(Qt::transparent);
    impl_->view->setWindowFlags(Qt::FramelessWindowHint | Qt::Tool | Qt::WindowDoesNotAcceptFocus);
    impl_->view->setAttribute(Qt::WA_TranslucentBackground);
    impl_->view->setAttribute(Qt::WA_ShowWithoutActivating);
    QObject::connect(impl_->page, &QWebEnginePage::loadFinished, [impl = impl_.get()](bool ok) {
        if (impl->loadFinished)
            impl->loadFinished(ok);
    });
}

WebPageRenderer::~WebPageRenderer()
{
    delete impl_->view;  // takes the page with it
    delete impl_->profile;
}

void WebPageRenderer::load(const QUrl& url)
{
    impl_->page->load(url);
}

void WebPageRenderer::setLoadFinishedHandler(std::function<void(bool)> handler)
{
    impl_->loadFinished = std::move(handler);
}

QString WebPageRenderer::stringLiteral(const QString& text)
{
    QString literal = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"': literal += QStringLiteral("\\\""); break;
        case '\\': literal += QStringLiteral("\\\\"); break;
        case '\n': literal += QStringLiteral("\\n"); break;
        case '\r': literal += QStringLiteral("\\r"); break;
        default:
            // Other control characters, the two line separators JavaScript ends lines at, and
            // '<', so the text never closes a script element.
            if (c.unicode() < 0x20 || c.unicode() == 0x2028 || c.unicode() == 0x2029 || c == QLatin1Char('<'))
                literal += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                literal += c;
        }
    }
    return literal + QLatin1Char('"');
}

void WebPageRenderer::runJavaScript(const QString& script, std::function<void(const QString&)> done)
{
    // A script that throws, or does not parse, answers no value: evaluate it inside a guard so its
    // error comes back as text.
    const QString wrapped = QStringLiteral("(function(){ try { (0, eval)(%1); return ''; } catch (e) { return String(e) || 'error'; } })()")
                                .arg(stringLiteral(script));
    impl_->page->runJavaScript(wrapped, [done = std::move(done)](const QVariant& result) {
        if (done)
            done(result.toString());
    });
}

void WebPageRenderer::evaluate(const QString& script, std::function<void(const QString&)> done)
{
    impl_->page->runJavaScript(script, [done = std::move(done)](const QVariant& result) { done(result.toString()); });
}

void WebPageRenderer::setGeometry(QPoint origin, QSize size)
{
    impl_->view->setGeometry(QRect(origin, size));
    if (!impl_->view->isVisible())
        impl_->view->show();
}

QSize WebPageRenderer::size() const
{
    return impl_->view->size();
}

QImage WebPageRenderer::grab()
{
    if (!impl_->view->isVisible())
        return {};
    return impl_->view->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

QWindow* WebPageRenderer::window() const
{
    return impl_->view->windowHandle();
}
