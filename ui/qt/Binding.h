// Binding of Qt widgets to the control-state objects of ui/ControlState.h.
//
// A view creates its widgets and binds each one to the state object of the
// window's logic. From then on:
// - the widget shows the state (enabled, visible, tool tip, caption or text,
//   checked, items, item index), updated under QSignalBlocker, so a change
//   made in code never comes back as a user action and no handler runs
//   twice;
// - what the user does goes to the state's User* method, which runs the
//   logic's handler. When the logic refuses (a disabled control), the widget
//   is set back to the state.
//
// The state object must outlive the widget: the binding ends when the
// widget is destroyed (the logic owns the state, the view the widgets).
#pragma once

#include "ui/ControlState.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;
class QWidget;

namespace vl {

// Enabled, visible and hint (as tool tip) only: panels, group boxes.
void BindControl(QWidget *AWidget, TControlState &AState);
// A label: also its caption as text.
void BindLabel(QLabel *ALabel, TControlState &AState);
// A push button (or tool button): caption as text, clicks to Click.
void BindButton(QAbstractButton *AButton, TButtonState &AState);
void BindCheckBox(QCheckBox *ABox, TCheckBoxState &AState);
void BindRadioButton(QRadioButton *AButton, TRadioButtonState &AState);
void BindEdit(QLineEdit *AEdit, TEditState &AState);
void BindListBox(QListWidget *AList, TListBoxState &AState);
// Editable or not, as the state says.
void BindComboBox(QComboBox *ACombo, TComboBoxState &AState);
// A group box holding one radio button per item in Columns columns (made
// and remade by the binding); caption as title.
void BindRadioGroup(QGroupBox *AGroup, TRadioGroupState &AState);

} // namespace vl
