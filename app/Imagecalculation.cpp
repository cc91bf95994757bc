#include "Imagecalculation.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <cmath>

TImageCalculationForm::TImageCalculationForm(QWidget* owner) : QDialog(owner)
{
    setWindowTitle("Calculations");
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto group = [&](const char* caption, QComboBox*& combo, const char* name) {
        auto* box = new QGroupBox(caption, this);
        auto* v = new QVBoxLayout(box);
        combo = new QComboBox(box);
        combo->setObjectName(name);
        combo->setMinimumContentsLength(24);
        v->addWidget(combo);
        layout->addWidget(box);
    };
    group("Source 1", Source1ComboBox, "Source1ComboBox");
    group("Source 2", Source2ComboBox, "Source2ComboBox");
    group("Operation", OperationComboBox, "OperationComboBox");
    OperationComboBox->addItems({"Source1 - Source2", "Source1 + Source2", "Source1 * Source2"});
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    OKButton = new QPushButton("OK", this);
    OKButton->setDefault(true);
    CancelButton = new QPushButton("Cancel", this);
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    layout->addLayout(buttons);
    connect(OKButton, &QPushButton::clicked, this, [this] { done(1); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { done(2); });
}

void TImageCalculationForm::FormShow()
{
    Source1ComboBox->setCurrentIndex(Source1ComboBox->count() > 0 ? 0 : -1);
    Source2ComboBox->setCurrentIndex(Source2ComboBox->count() > 0 ? 0 : -1);
    OperationComboBox->setCurrentIndex(0);
}

void TImageCalculationForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

void CalculateImages(int operation, const uint8_t* a, const uint8_t* b, uint8_t* out, size_t n)
{
    switch (operation) {
    case ioDifference:
        for (size_t k = 0; k < n; ++k)
            out[k] = static_cast<uint8_t>(a[k] > b[k] ? a[k] - b[k] : b[k] - a[k]);
        break;
    case ioMean:
        for (size_t k = 0; k < n; ++k)
            out[k] = static_cast<uint8_t>((unsigned(a[k]) + unsigned(b[k])) >> 1);
        break;
    case ioGeometric:
        for (size_t k = 0; k < n; ++k)
            out[k] = static_cast<uint8_t>(std::trunc(std::sqrt(double(a[k]) * double(b[k]))));
        break;
    default:
        break;
    }
}
