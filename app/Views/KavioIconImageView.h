#pragma once
// The icons of the interface: a KavioImageView tinted grey 0.4 from the start. Main thread.

#include "Views/KavioImageView.h"

class KavioIconImageView : public KavioImageView {
    Q_OBJECT
public:
    explicit KavioIconImageView(QWidget* parent = nullptr);
};
