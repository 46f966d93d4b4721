#include "Remote/KavioATEMPreferencesPane.h"

#include "Views/KavioButton.h"
#include "Views/KavioPopUpButton.h"
#include "Views/KavioStylishButtonCell.h"
#include "Views/KavioTextField.h"

#include <QDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

namespace {

KavioButton* button(const QString& title)
{
    auto* made = new KavioButton;
    made->setTitle(title);
    return made;
}

}  // namespace

QWidget* buildATEMPreferencesPane(KavioATEMManagerOutlets& outlets, QWidget* preferencesWindow)
{
    auto* pane = new QWidget;
    pane->setObjectName(QStringLiteral("atem"));
    auto* form = new QFormLayout(pane);

    outlets.atemSwitchersPopup = new KavioPopUpButton;
    // The menu starts on "Disabled"; the manager rebuilds it and restores the saved choice.
    outlets.atemSwitchersPopup->addItemWithTitle(QStringLiteral("Disabled"));
    outlets.atemSwitchersPopup->selectItemAtIndex(0);
    form->addRow(QStringLiteral("Switcher"), outlets.atemSwitchersPopup);
    auto* status = new QHBoxLayout;
    outlets.atemSwitchersProgressIndicator = new QProgressBar;
    outlets.atemSwitchersProgressIndicator->setMaximumWidth(80);
    outlets.atemSwitchersStatusField = new QLabel;
    status->addWidget(outlets.atemSwitchersProgressIndicator);
    status->addWidget(outlets.atemSwitchersStatusField, 1);
    form->addRow(QStringLiteral("Status"), status);
    outlets.noDriverErrorButton = button(QStringLiteral("Switcher driver missing…"));
    outlets.noDriverErrorButton->setVisible(false);
    form->addRow(QString(), outlets.noDriverErrorButton);

    outlets.atemSwitchersInputsPopup = new KavioPopUpButton;
    outlets.atemSwitchersInputsPopup->setEnabled(false);
    form->addRow(QStringLiteral("Show input"), outlets.atemSwitchersInputsPopup);
    outlets.atemSwitchersOnSwitchBehaviour = new KavioPopUpButton;
    outlets.atemSwitchersOnSwitchBehaviour->addItem(QStringLiteral("Do Nothing"), KavioATEMOnSwitchNothing);
    outlets.atemSwitchersOnSwitchBehaviour->addItem(QStringLiteral("Stop"), KavioATEMOnSwitchStop);
    outlets.atemSwitchersOnSwitchBehaviour->addItem(QStringLiteral("Stop and Load Next Cue"), KavioATEMOnSwitchLoadNextCue);
    outlets.atemSwitchersOnSwitchBehaviour->addItem(QStringLiteral("Stop and Rewind Cue"), KavioATEMOnSwitchRewindCue);
    outlets.atemSwitchersOnSwitchBehaviour->selectItemAtIndex(0);
    form->addRow(QStringLiteral("When it leaves program"), outlets.atemSwitchersOnSwitchBehaviour);
    outlets.atemSwitchersOnPauseAtEndBehaviour = new KavioPopUpButton;
    outlets.atemSwitchersOnPauseAtEndBehaviour->addItemWithTitle(QStringLiteral("Do Nothing"));
    outlets.atemSwitchersOnPauseAtEndBehaviour->selectItemAtIndex(0);
    outlets.atemSwitchersOnPauseAtEndBehaviour->setEnabled(false);
    form->addRow(QStringLiteral("At a cue's pause at end"), outlets.atemSwitchersOnPauseAtEndBehaviour);

    // A check box, like the other switches of the preferences.
    outlets.hyperdeckEnabledButton = new KavioButton(nullptr, std::make_unique<KavioStylishButtonCell>());
    outlets.hyperdeckEnabledButton->setTitle(QStringLiteral("HyperDeck-protocol control"));
    outlets.hyperdeckEnabledButton->setButtonType(KavioButtonType::OnOff);
    form->addRow(QString(), outlets.hyperdeckEnabledButton);
    outlets.hyperdeckComputerIPLabel = new QLabel(QStringLiteral("-"));
    outlets.hyperdeckComputerIPLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    form->addRow(QStringLiteral("This computer"), outlets.hyperdeckComputerIPLabel);

    auto* sheet = new QDialog(preferencesWindow);
    sheet->setObjectName(QStringLiteral("manualATEMIPWindow"));
    sheet->setWindowTitle(QStringLiteral("Switcher Address"));
    sheet->setWindowModality(Qt::WindowModal);
    auto* sheetLayout = new QVBoxLayout(sheet);
    sheetLayout->addWidget(new QLabel(QStringLiteral("The switcher's IPv4 address:")));
    outlets.manualATEMIPTextField = new KavioTextField;
    outlets.manualATEMIPTextField->setPlaceholderText(QStringLiteral("192.168.10.240"));
    sheetLayout->addWidget(outlets.manualATEMIPTextField);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    outlets.manualIPCancelButton = button(QStringLiteral("Cancel"));
    outlets.manualIPConnectButton = button(QStringLiteral("Connect"));
    outlets.manualIPConnectButton->setEnabled(false);
    buttons->addWidget(outlets.manualIPCancelButton);
    buttons->addWidget(outlets.manualIPConnectButton);
    sheetLayout->addLayout(buttons);
    outlets.manualATEMIPWindow = sheet;
    return pane;
}
