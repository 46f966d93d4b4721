#include "Outputs/KavioVideoOutputSetupView.h"

#include "Outputs/KavioVideoOutputCornerHandle.h"
#include "Outputs/KavioVideoOutputMTKView.h"
#include "Outputs/KavioVideoOutputManager.h"
#include "Outputs/KavioVideoOutputObject.h"
#include "Rendering/QVTMetalManager.h"
#include "Views/KavioButton.h"
#include "Views/KavioControllableTextField.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioScrollView.h"

#include "GpuCommandBuffer.h"
#include "GpuDevice.h"
#include "GpuLibrary.h"
#include "GpuTexture.h"
#include "Log.h"
#include "NotificationCenter.h"
#include "UndoManager.h"

#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace {

const QColor kSelectionBlue = QColor::fromRgbF(0.0f, 0.656f, 0.929f);

QColor white(float level)
{
    return QColor::fromRgbF(level, level, level);
}

long integerValue(const KavioControllableTextField* field)
{
    return long(field->stringValue().toDouble());
}

float floatValue(const KavioControllableTextField* field)
{
    return field->stringValue().toFloat();
}

QString withoutPercent(QString level)
{
    return level.remove(QLatin1Char('%'));
}

}  // namespace

KavioVideoOutputSetupView::KavioVideoOutputSetupView(QVTMetalManager& gpu, QWidget* parent)
    : QWidget(parent), gpu_(gpu)
{
    setFocusPolicy(Qt::ClickFocus);
}

KavioVideoOutputSetupView::~KavioVideoOutputSetupView() = default;

void KavioVideoOutputSetupView::awakeFromNib(const Outlets& outlets, KavioVideoOutputManager* manager,
                                             UndoManager* undo)
{
    outlets_ = outlets;
    outputManager_ = manager;
    undo_ = undo;
    outputObj_.reset();
    sourceBackGround_ = {};
    perspectiveCorrectBackground_ = {};

    const double w = width(), h = height();
    const QPointF origins[] = {{12, 12}, {w - 24, 12}, {w - 24, h - 24}, {12, h - 24}};
    for (int i = 0; i < 4; ++i) {
        handles_[i] = new KavioVideoOutputCornerHandle(this);
        handles_[i]->setFrameOrigin(origins[i]);
        handles_[i]->calculateMaximums();
    }
    outlets_.currentCornerX->setAllowsFloats(false);
    outlets_.currentCornerY->setAllowsFloats(false);

    const auto connectField = [this](KavioControllableTextField* field, void (KavioVideoOutputSetupView::*action)()) {
        field->setAction([this, action] { (this->*action)(); });
        QObject::connect(field, &QLineEdit::editingFinished, this, [this, field, action] {
            if (field->isModified()) {
                field->setModified(false);
                (this->*action)();
            }
        });
    };
    connectField(outlets_.currentCornerX, &KavioVideoOutputSetupView::changeSelectedCornerPoint);
    connectField(outlets_.currentCornerY, &KavioVideoOutputSetupView::changeSelectedCornerPoint);
    for (KavioControllableTextField* field :
         {outlets_.edgeBlendWidthLeft, outlets_.edgeBlendWidthRight, outlets_.edgeBlendWidthTop,
          outlets_.edgeBlendWidthBottom, outlets_.edgeBlendPowerLeft, outlets_.edgeBlendPowerRight,
          outlets_.edgeBlendPowerTop, outlets_.edgeBlendPowerBottom})
        connectField(field, &KavioVideoOutputSetupView::changeEdgeBlending);
    outlets_.zoomPopup->setAction([this] { changeZoomLevel(); });
    outlets_.edgeBlendResetButton->setAction([this] { resetEdgeBlend(); });

    redrawAndSetCoornerCoordinatesWithHandle(nullptr);
    outlets_.zoomPopup->cacheToOldValue();
    deselectHandles();

    // The preview's pipeline: the outputs' projection functions into 8-bit BGRA.
    if (const auto& library = gpu_.library()) {
        GpuRenderPipelineDescriptor descriptor;
        descriptor.label = "OutputSetupView preview";
        descriptor.vertexFunction = library->newFunction("vertexShaderProjection");
        descriptor.fragmentFunction = library->newFunction("fragmentShaderProjection");
        descriptor.colorPixelFormat = GpuPixelFormat::BGRA8Unorm;
        descriptor.vertexStride = sizeof(KavioMeshVertex);
        descriptor.vertexAttributes = {{0, 2, 0}, {1, 4, 16}};
        std::string error;
        pipelineState_ = library->newRenderPipelineState(descriptor, &error);
        if (!pipelineState_)
            KLOG_ERROR("Error: Failed to created pipeline state in OutputSetupView: {}", error);
    }
}

// --- The shown output ----------------------------------------------------------------------------

void KavioVideoOutputSetupView::setOutputObj(const std::shared_ptr<KavioVideoOutputObject>& output)
{
    outputObj_ = output;
    deselectHandles();
    if (output)
        output->destroyTestCard();
    sourceBackGround_ = {};
    const QSizeF size = output ? output->frame().size() : QSizeF(0, 0);
    for (KavioVideoOutputCornerHandle* handle : handles_) {
        handle->setPixelMaximum(size);
        handle->calculateMaximums();
    }
    readCornerCoordinatesFromCurrentOutput();
    for (KavioVideoOutputCornerHandle* handle : handles_)
        handle->calculatePixelValueByDisplayNormals();
    outlets_.edgeBlendWidthLeft->setBounds(0, std::floor(size.width() / 2));
    outlets_.edgeBlendWidthRight->setBounds(0, std::floor(size.width() / 2));
    outlets_.edgeBlendWidthTop->setBounds(0, std::floor(size.height() / 2));
    outlets_.edgeBlendWidthBottom->setBounds(0, std::floor(size.height() / 2));
    fillEdgeBlendFields();
    handleChangeZoomToLevel({});
}

void KavioVideoOutputSetupView::readCornerCoordinatesFromCurrentOutput()
{
    const auto output = outputObj_.lock();
    if (!output)
        return;
    const KavioCornerCoords corners = output->cornerCoords();
    const QSizeF size = output->frame().size();
    auto place = [&](KavioVideoOutputCornerHandle* handle, KavioPoint32 corner) {
        handle->setPixelValue({(corner.x + 1.0) * size.width() / 2, (corner.y + 1.0) * size.height() / 2});
    };
    place(topLeftHandle(), corners.topLeft);
    place(topRightHandle(), corners.topRight);
    place(bottomLeftHandle(), corners.bottomLeft);
    place(bottomRightHandle(), corners.bottomRight);
    for (KavioVideoOutputCornerHandle* handle : {topLeftHandle(), topRightHandle(), bottomLeftHandle(), bottomRightHandle()})
        handle->redrawByPixelValues();
}

void KavioVideoOutputSetupView::setCornerCoordinatesOnOutput()
{
    const auto output = outputObj_.lock();
    if (!output)
        return;
    // Without a pixel size or a travel range the conversions have nothing to divide by: the
    // output keeps its stored corners.
    for (const KavioVideoOutputCornerHandle* handle : handles_)
        if (!handle->hasUsableRanges())
            return;
    auto corner = [](const KavioVideoOutputCornerHandle* handle) {
        const QPointF n = handle->normalisedPixelCoordinates();
        return KavioPoint32{float(2 * n.x() - 1), float(2 * n.y() - 1)};
    };
    KavioCornerCoords coords;
    coords.topLeft = corner(topLeftHandle());
    coords.topRight = corner(topRightHandle());
    coords.bottomLeft = corner(bottomLeftHandle());
    coords.bottomRight = corner(bottomRightHandle());
    output->setCornerCoords(coords);
}

void KavioVideoOutputSetupView::redrawAndSetCoornerCoordinatesWithHandle(KavioVideoOutputCornerHandle* handle)
{
    if (!outputObj_.lock())
        return;
    setCornerCoordinatesOnOutput();
    redrawWithNewSettings();
    if (handle && hasSelectedPin()) {
        outlets_.currentCornerX->setStringValue(QString::asprintf("%0.f", handle->pixelValue().x()));
        outlets_.currentCornerY->setStringValue(QString::asprintf("%0.f", handle->pixelValue().y()));
    }
}

void KavioVideoOutputSetupView::redrawWithNewSettings()
{
    perspectiveCorrectBackground_ = {};
    if (sourceBackGround_.isNull())
        createhelperImage();
    perspectiveCorrectBackground_ = createBackgroundWithSource(sourceBackGround_);
    update();
    if (outlets_.warpViewScrollView)
        outlets_.warpViewScrollView->setShouldRedrawOnScroll(true);
}

void KavioVideoOutputSetupView::edgeBlendToggled(bool state)
{
    postUnsavedChanges();
    outlets_.edgeBlendResetButton->setEnabled(state);
    for (KavioControllableTextField* field :
         {outlets_.edgeBlendWidthLeft, outlets_.edgeBlendWidthRight, outlets_.edgeBlendWidthTop,
          outlets_.edgeBlendWidthBottom, outlets_.edgeBlendPowerLeft, outlets_.edgeBlendPowerRight,
          outlets_.edgeBlendPowerTop, outlets_.edgeBlendPowerBottom})
        field->setEnabled(state);
    redrawWithNewSettings();
}

// --- Selection -----------------------------------------------------------------------------------

KavioVideoOutputCornerHandle* KavioVideoOutputSetupView::selectedHandle() const
{
    for (KavioVideoOutputCornerHandle* handle : handles_)
        if (handle && handle->isSelected())
            return handle;
    return nullptr;
}

void KavioVideoOutputSetupView::deselectHandles()
{
    for (KavioVideoOutputCornerHandle* handle : handles_) {
        handle->setIsSelected(false);
        handle->setShouldHover(false);
    }
    update();
    invalidateCornerFields(false);
}

void KavioVideoOutputSetupView::invalidateCornerFields(bool enabled)
{
    for (KavioControllableTextField* field : {outlets_.currentCornerX, outlets_.currentCornerY}) {
        field->setEnabled(enabled);
        if (!enabled)
            field->setStringValue(QStringLiteral("-"));
    }
}

void KavioVideoOutputSetupView::handleSelected(KavioVideoOutputCornerHandle* handle)
{
    if (!outputObj_.lock())
        return;
    outlets_.currentCornerX->setBounds(0, handle->pixelMaximum().width());
    outlets_.currentCornerY->setBounds(0, handle->pixelMaximum().height());
    invalidateCornerFields(true);
    redrawAndSetCoornerCoordinatesWithHandle(handle);
}

void KavioVideoOutputSetupView::mousePressEvent(QMouseEvent* event)
{
    deselectHandles();
    QWidget::mousePressEvent(event);
}

// --- Moving corners ------------------------------------------------------------------------------

void KavioVideoOutputSetupView::postUnsavedChanges()
{
    NotificationCenter::defaultCenter().post(QStringLiteral("ProjectHasUnsavedChanges"));
}

void KavioVideoOutputSetupView::selectScreenAtIndex(unsigned long index)
{
    if (outputManager_)
        outputManager_->selectScreenAtIndex(index);
}

void KavioVideoOutputSetupView::handleChanged(KavioVideoOutputCornerHandle* handle, QPointF origin,
                                              QPointF previousOrigin)
{
    const auto output = outputObj_.lock();
    if (!handle || !output)
        return;
    // The step records the origin the handle had before this drag event.
    handle->setFrameOrigin(previousOrigin);
    undoChangeHandle(handle, origin, (unsigned long)output->index());
}

void KavioVideoOutputSetupView::undoChangeHandle(KavioVideoOutputCornerHandle* handle, QPointF origin,
                                                 unsigned long screenIndex)
{
    postUnsavedChanges();
    selectScreenAtIndex(screenIndex);
    const QPointF previous = handle->frameOrigin();
    handle->setFrameOrigin(origin);
    handle->calculatePixelValueByDisplayNormals();
    redrawAndSetCoornerCoordinatesWithHandle(handle);
    if (!undo_)
        return;
    undo_->registerUndo(this, [this, handle, previous, screenIndex] { undoChangeHandle(handle, previous, screenIndex); });
    undo_->setActionIsDiscardable(true);
    undo_->setActionName(QStringLiteral("Move Corner Point"));
}

void KavioVideoOutputSetupView::changeSelectedCornerPoint()
{
    const auto output = outputObj_.lock();
    if (!output)
        return;
    undoChangeSelectedCornerPoint(selectedHandle(),
                                  {floatValue(outlets_.currentCornerX), floatValue(outlets_.currentCornerY)},
                                  (unsigned long)output->index());
}

void KavioVideoOutputSetupView::undoChangeSelectedCornerPoint(KavioVideoOutputCornerHandle* handle, QPointF pixelValue,
                                                              unsigned long screenIndex)
{
    if (!handle || !outputObj_.lock())
        return;
    postUnsavedChanges();
    selectScreenAtIndex(screenIndex);
    const QPointF previous = handle->pixelValue();
    handle->setPixelValue(pixelValue);
    handle->redrawByPixelValues();
    redrawAndSetCoornerCoordinatesWithHandle(handle);
    if (!undo_)
        return;
    undo_->registerUndo(this, [this, handle, previous, screenIndex] {
        undoChangeSelectedCornerPoint(handle, previous, screenIndex);
    });
    undo_->setActionIsDiscardable(true);
    undo_->setActionName(QStringLiteral("Move Corner Point"));
}

void KavioVideoOutputSetupView::keyPressEvent(QKeyEvent* event)
{
    event->accept();
    const int key = event->key();
    const bool arrow = key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Left || key == Qt::Key_Right;
    if ((!arrow && event->text().isEmpty()) || !selectedHandle())
        return;
    KavioControllableTextField* fieldX = outlets_.currentCornerX;
    KavioControllableTextField* fieldY = outlets_.currentCornerY;
    long x = integerValue(fieldX), y = integerValue(fieldY);
    if (key == Qt::Key_Up)
        y += 1;
    else if (key == Qt::Key_Down)
        y -= 1;
    else if (key == Qt::Key_Left)
        x -= 1;
    else if (key == Qt::Key_Right)
        x += 1;
    x = std::min(std::max(x, long(fieldX->minimum())), long(fieldX->maximum()));
    y = std::min(std::max(y, long(fieldY->minimum())), long(fieldY->maximum()));
    fieldX->setStringValue(QString::asprintf("%ld", x));
    fieldY->setStringValue(QString::asprintf("%ld", y));
    changeSelectedCornerPoint();
}

void KavioVideoOutputSetupView::resetHandles()
{
    const auto output = outputObj_.lock();
    // Without an output the group would stay empty, and the name would land on the step before.
    if (!output || !undo_)
        return;
    const unsigned long index = (unsigned long)output->index();
    const QSizeF size = bottomLeftHandle()->pixelMaximum();
    undo_->beginUndoGrouping();
    undoChangeSelectedCornerPoint(topLeftHandle(), {0, size.height()}, index);
    undoChangeSelectedCornerPoint(bottomLeftHandle(), {0, 0}, index);
    undoChangeSelectedCornerPoint(topRightHandle(), {size.width(), size.height()}, index);
    undoChangeSelectedCornerPoint(bottomRightHandle(), {size.width(), 0}, index);
    deselectHandles();
    undo_->endUndoGrouping();
    undo_->setActionName(QStringLiteral("Reset Corners"));
}

// --- Edge blending -------------------------------------------------------------------------------

void KavioVideoOutputSetupView::fillEdgeBlendFields()
{
    const auto output = outputObj_.lock();
    const KavioEdgeBlendSettings s = output ? output->edgeBlendSettings() : KavioEdgeBlendSettings{};
    outlets_.edgeBlendWidthLeft->setStringValue(QString::asprintf("%ld", long(s.leftEdgeWidth)));
    outlets_.edgeBlendWidthRight->setStringValue(QString::asprintf("%ld", long(s.rightEdgeWidth)));
    outlets_.edgeBlendWidthTop->setStringValue(QString::asprintf("%ld", long(s.topEdgeWidth)));
    outlets_.edgeBlendWidthBottom->setStringValue(QString::asprintf("%ld", long(s.bottomEdgeWidth)));
    outlets_.edgeBlendPowerLeft->setStringValue(QString::asprintf("%f", double(s.leftEdgePower)));
    outlets_.edgeBlendPowerRight->setStringValue(QString::asprintf("%f", double(s.rightEdgePower)));
    outlets_.edgeBlendPowerTop->setStringValue(QString::asprintf("%f", double(s.topEdgePower)));
    outlets_.edgeBlendPowerBottom->setStringValue(QString::asprintf("%f", double(s.bottomEdgePower)));
}

void KavioVideoOutputSetupView::changeEdgeBlending()
{
    const auto output = outputObj_.lock();
    if (!output)
        return;
    KavioEdgeBlendSettings s;
    s.leftEdgeWidth = integerValue(outlets_.edgeBlendWidthLeft);
    s.rightEdgeWidth = integerValue(outlets_.edgeBlendWidthRight);
    s.topEdgeWidth = integerValue(outlets_.edgeBlendWidthTop);
    s.bottomEdgeWidth = integerValue(outlets_.edgeBlendWidthBottom);
    s.leftEdgePower = floatValue(outlets_.edgeBlendPowerLeft);
    s.rightEdgePower = floatValue(outlets_.edgeBlendPowerRight);
    s.topEdgePower = floatValue(outlets_.edgeBlendPowerTop);
    s.bottomEdgePower = floatValue(outlets_.edgeBlendPowerBottom);
    undoChangeEdgeBlendSettingsTo(s, (unsigned long)output->index());
}

void KavioVideoOutputSetupView::undoChangeEdgeBlendSettingsTo(const KavioEdgeBlendSettings& settings,
                                                              unsigned long screenIndex)
{
    postUnsavedChanges();
    selectScreenAtIndex(screenIndex);
    const auto output = outputObj_.lock();
    if (!output)
        return;
    const KavioEdgeBlendSettings previous = output->edgeBlendSettings();
    output->setEdgeBlendSettings(settings);
    if (outputManager_)
        outputManager_->edgeBlendChangedWithObject(output);
    redrawWithNewSettings();
    fillEdgeBlendFields();
    if (!undo_)
        return;
    undo_->registerUndo(this, [this, previous, screenIndex] { undoChangeEdgeBlendSettingsTo(previous, screenIndex); });
    undo_->setActionName(QStringLiteral("Set Edge Blending"));
}

void KavioVideoOutputSetupView::resetEdgeBlend()
{
    const auto output = outputObj_.lock();
    if (!output)
        return;
    undoChangeEdgeBlendSettingsTo(KavioEdgeBlendSettings{}, (unsigned long)output->index());
    if (undo_)
        undo_->setActionName(QStringLiteral("Reset Edge Blending"));
}

// --- Zoom ----------------------------------------------------------------------------------------

void KavioVideoOutputSetupView::changeZoomLevel()
{
    undoChangeZoomLevel(withoutPercent(outlets_.zoomPopup->titleOfSelectedItem()));
}

void KavioVideoOutputSetupView::undoChangeZoomLevel(const QString& level)
{
    postUnsavedChanges();
    const QString previous = withoutPercent(outlets_.zoomPopup->oldItemTitle());
    handleChangeZoomToLevel(level);
    // Cached once the pop-up shows the new level, so an undone step leaves the right old value.
    outlets_.zoomPopup->cacheToOldValue();
    if (undo_ && undo_->isUndoRegistrationEnabled()) {
        undo_->registerUndo(this, [this, previous] { undoChangeZoomLevel(previous); });
        undo_->setActionName(QStringLiteral("Change Zoom Level"));
    }
}

void KavioVideoOutputSetupView::handleChangeZoomToLevel(const QString& wanted)
{
    const auto output = outputObj_.lock();
    sourceBackGround_ = {};
    const QRectF frame = output ? output->frame() : QRectF();
    KLOG_INFO("outputObj frame: {}", KavioVideoOutputObject::stringFromRect(frame).toStdString());
    std::array<QPointF, 4> normals;
    for (int i = 0; i < 4; ++i)
        normals[i] = handles_[i]->normalizedDisplayCoordinates();
    const QString level = withoutPercent(wanted.isEmpty() ? outlets_.zoomPopup->titleOfSelectedItem() : wanted);
    KavioScrollView* scroll = outlets_.warpViewScrollView;
    const QSizeF available = scroll ? QSizeF(scroll->width() - 2, scroll->height() - 2) : QSizeF(size());
    const double w = frame.width(), h = frame.height();
    QSizeF canvas;
    double insetX = 0, insetY = 0;
    if (level == QLatin1String("Fit")) {
        const float aspect = float(h / w);
        canvas = QSizeF(available.width(), available.width() * aspect);
        KLOG_INFO("changeZoomLevel: {} (aspect: {:f})", level.toStdString(), aspect);
        if (!std::isfinite(canvas.width()) || !std::isfinite(canvas.height())) {
            KLOG_ERROR("invalid zoom frame!");
            return;
        }
        insetY = canvas.height() < available.height() ? (available.height() - canvas.height()) / 2 : 0;
        outlets_.zoomPopup->selectItemWithTitle(QStringLiteral("Fit"));
    } else {
        const float z = float(level.toInt()) / 100.0f;
        canvas = QSizeF(std::floor(float(w) * z), std::floor(float(h) * z));
        insetX = canvas.width() < available.width() ? (available.width() - canvas.width()) / 2 : 0;
        insetY = canvas.height() < available.height() ? (available.height() - canvas.height()) / 2 : 0;
        const QString title = level + QLatin1Char('%');
        outlets_.zoomPopup->selectItemWithTitle(title);
        KLOG_INFO("zoom : {}", title.toStdString());
    }
    resize(int(canvas.width()), int(canvas.height()));
    if (scroll)
        scroll->setContentsMargins(int(insetX), int(insetY), int(insetX), int(insetY));
    for (int i = 0; i < 4; ++i) {
        handles_[i]->calculateMaximums();
        handles_[i]->setNormaliedDisplayCoordinates(normals[i]);
    }
    redrawAndSetCoornerCoordinatesWithHandle(selectedHandle());
}

// --- Drawing -------------------------------------------------------------------------------------

QRectF KavioVideoOutputSetupView::innerArea() const
{
    return QRectF(rect()).adjusted(18, 18, -18, -18);
}

void KavioVideoOutputSetupView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn y upwards; the inner area and the panel are symmetric, so they read the same.
    painter.translate(0, height());
    painter.scale(1, -1);
    QPainterPath panel;
    panel.addRoundedRect(QRectF(rect()).adjusted(0.25, 0.25, -0.25, -0.25), 3, 3);
    painter.fillPath(panel, white(0.15f));
    const QRectF inner = innerArea();
    painter.fillRect(inner, white(0.22f));
    painter.setPen(QPen(white(0.1f), 1.0));
    painter.drawRect(inner);

    auto centre = [](const KavioVideoOutputCornerHandle* handle) {
        return handle->frameOrigin() + QPointF(6, 6);
    };
    QPainterPath quad;
    quad.moveTo(centre(bottomLeftHandle()));
    quad.lineTo(centre(bottomRightHandle()));
    quad.lineTo(centre(topRightHandle()));
    quad.lineTo(centre(topLeftHandle()));
    quad.closeSubpath();
    painter.setPen(QPen(hasSelectedPin() ? kSelectionBlue : white(0.62f), 1.0));
    painter.drawPath(quad);

    if (!perspectiveCorrectBackground_.isNull()) {
        painter.save();
        painter.scale(1, -1);
        painter.translate(0, -height());
        painter.drawImage(inner, perspectiveCorrectBackground_);
        painter.restore();
    }
    painter.setPen(QPen(white(0.1f), 1.0));
    painter.drawPath(panel);
}

// --- The warp preview ----------------------------------------------------------------------------

void KavioVideoOutputSetupView::createhelperImage()
{
    const QRectF inner = innerArea();
    if (inner.width() <= 0 || inner.height() <= 0)
        return;
    const int w = int(inner.width()), h = int(inner.height());
    // Premultiplied ARGB32 lies in memory as BGRA, the texture's format.
    QImage board(w, h, QImage::Format_ARGB32_Premultiplied);
    board.fill(Qt::transparent);
    QPainter painter(&board);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    // Rows counted from the bottom, so the bottom-left cell is filled.
    painter.translate(0, h);
    painter.scale(1, -1);
    const double cellW = inner.width() / 8, cellH = inner.height() / 8;
    QColor fill = white(0.62f);
    fill.setAlphaF(0.9f);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j)
            painter.fillRect(QRectF(2 * j * cellW + (i % 2 ? cellW : 0), i * cellH, cellW, cellH), fill);
    painter.end();
    sourceBackGround_ = board;
}

QImage KavioVideoOutputSetupView::createBackgroundWithSource(const QImage& source)
{
    const auto output = outputObj_.lock();
    const auto& device = gpu_.device();
    if (!pipelineState_ || !output || !device)
        return {};
    if (source.isNull()) {
        KLOG_ERROR("Error: cannot create Metal texture: {}", "no source image");
        return {};
    }
    // The mesh's first row samples the texture's row 0 at the output's bottom edge, while the
    // GPU layer keeps row 0 at the top: the source goes up reflected, so the picture reads back
    // upright, top row first.
    const QImage bgra = source.convertToFormat(QImage::Format_ARGB32_Premultiplied).mirrored(false, true);
    const auto w = std::uint32_t(bgra.width()), h = std::uint32_t(bgra.height());
    const auto texture = device->newTexture({GpuPixelFormat::BGRA8Unorm, w, h});
    const auto target = device->newTexture({GpuPixelFormat::BGRA8Unorm, w, h});
    const auto queue = gpu_.commandQueue();
    if (!texture || !target || !queue || !texture->replaceRegion({0, 0, w, h}, bgra.constBits(), bgra.bytesPerLine())) {
        KLOG_ERROR("Error: cannot create Metal texture: {}", "the texture could not be made");
        return {};
    }
    const auto buffer = queue->commandBuffer();
    auto encoder = buffer->renderCommandEncoder({target, GpuLoadAction::Clear, {0, 0, 0, 0}});
    if (!encoder)
        return {};
    encoder->setRenderPipelineState(pipelineState_);
    const KavioVideoOutputObject::ProjectionData data = output->projectionDataForRenderingHelperForSize(QSizeF(w, h));
    // The output's bottom edge at the mesh's first row, as the output's own pass lays it.
    KavioVideoOutputMTKView::Corners corners;
    const auto point = [](KavioPoint32 p) { return QPointF(p.x, p.y); };
    corners.topLeft = point(data.corners.bottomLeft);
    corners.topRight = point(data.corners.bottomRight);
    corners.bottomLeft = point(data.corners.topLeft);
    corners.bottomRight = point(data.corners.topRight);
    const std::vector<KavioMeshVertex> mesh = KavioVideoOutputMTKView::buildMesh(corners, int(output->warpMode() * 8));
    const auto bytes = data.uniforms.bytes();
    encoder->setVertexBytes(mesh.data(), mesh.size() * sizeof(KavioMeshVertex), 0);
    encoder->setVertexBytes(bytes.data(), bytes.size(), 1);
    encoder->setFragmentBytes(bytes.data(), bytes.size(), 1);
    encoder->setFragmentTexture(texture, 0);
    encoder->drawPrimitives(GpuPrimitiveType::Triangle, 0, int(mesh.size()));
    encoder->endEncoding();
    buffer->commit();
    buffer->waitUntilCompleted();

    QImage result(int(w), int(h), QImage::Format_ARGB32_Premultiplied);
    if (!target->getBytes(result.bits(), std::size_t(result.bytesPerLine()), {0, 0, w, h})) {
        KLOG_ERROR("Error: cannot create Metal texture: {}", "the preview could not be read back");
        return {};
    }
    return result;
}
