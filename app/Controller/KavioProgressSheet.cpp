#include "Controller/KavioProgressSheet.h"

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>

void KavioProgressSheet::open(QWidget* parent, const QString& text, int maximum)
{
    close();
    window = new QDialog(parent);
    window->setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(window);
    layout->addWidget(new QLabel(text));
    bar = new QProgressBar;
    bar->setRange(0, std::max(maximum, 1));
    bar->setValue(0);
    layout->addWidget(bar);
    window->open();
}

void KavioProgressSheet::advance(int steps)
{
    if (window && bar)
        bar->setValue(bar->value() + steps);
}

void KavioProgressSheet::close()
{
    if (window) {
        window->accept();
        window->deleteLater();
    }
    window = nullptr;
    bar = nullptr;
}
