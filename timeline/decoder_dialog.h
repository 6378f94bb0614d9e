#pragma once

#include "decoder_library.h"

#include <QDialog>
#include <QStringList>

#include <vector>

class QComboBox;
class QDialogButtonBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTableWidget;

// The timeline's decoders: the stacks that follow the record, one a line, to
// remove; and a decoder to add, its channels on lines and its options set, on
// the lines or stacked on one of the stacks. Each stack is read as
// velkaro-cli --decode reads it, so the window refuses what the command line
// refuses, in the same words.
class DecoderDialog : public QDialog {
    Q_OBJECT

public:
    explicit DecoderDialog(const QStringList& setups, QWidget* parent = nullptr);

    QStringList setups() const { return m_setups; }

    QListWidget* Stacks = nullptr;
    QPushButton* RemoveButton = nullptr;
    QComboBox* DecoderChoice = nullptr;
    QComboBox* StackedOn = nullptr; // for a decoder of another's output: which stack
    QTableWidget* Channels = nullptr; // a channel a row, its line chosen in the second column
    QTableWidget* Options = nullptr;  // an option a row, its value in the second column
    QPushButton* AddButton = nullptr;
    QLabel* Refusal = nullptr;
    QDialogButtonBox* Buttons = nullptr;

    // The chosen decoder's stack as the fields give it, as --decode takes it.
    QString chosenSetup() const;
    // Adds the chosen decoder; false, with the refusal shown, where it is refused.
    bool add();

private:
    const DecoderInfo* chosenDecoder() const;
    void decoderChosen();
    void showSetups();

    std::vector<const DecoderInfo*> m_decoders;
    QStringList m_setups;
};
