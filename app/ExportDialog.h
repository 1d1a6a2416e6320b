// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>

#include "ExportSettings.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;

// "Export clip…": the range of the recording (from and to, in seconds), the
// output file, its format (MP4 or WebM, which also sets the file's
// extension), the video's size and whether the pointer and the sound go in.
// The window fills it from the recording and its in and out points and reads
// settings() once it is accepted. GUI thread only.
class ExportDialog : public QDialog
{
    Q_OBJECT

public:
    // The sizes offered, as lines (0: the recording's own size).
    static constexpr int kHeights[] = {0, 1080, 720, 480};

    ExportDialog(const QString& recording, quint64 durationMs, quint64 fromMs, quint64 toMs,
                 QWidget* parent = nullptr);

    ExportSettings settings() const;

    QDoubleSpinBox* fromBox() const { return m_from; }
    QDoubleSpinBox* toBox() const { return m_to; }
    QLineEdit* outputEdit() const { return m_output; }
    QComboBox* formatBox() const { return m_format; }
    QComboBox* sizeBox() const { return m_size; }
    QCheckBox* pointerBox() const { return m_pointer; }
    QCheckBox* soundBox() const { return m_sound; }

public slots:
    void accept() override;

private:
    void browse();
    void formatChanged(int index);

    QString m_recording;
    QDoubleSpinBox* m_from = nullptr;
    QDoubleSpinBox* m_to = nullptr;
    QLineEdit* m_output = nullptr;
    QComboBox* m_format = nullptr;
    QComboBox* m_size = nullptr;
    QCheckBox* m_pointer = nullptr;
    QCheckBox* m_sound = nullptr;
};
