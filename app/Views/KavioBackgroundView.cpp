#include "Views/KavioBackgroundView.h"

#include "Views/KavioControlStyle.h"

#include <QPainter>

void KavioBackgroundView::paintEvent(QPaintEvent*) { QPainter(this).fillRect(rect(), KavioControlStyle::panelFill()); }
