// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExportDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace {

QDoubleSpinBox* secondsBox(quint64 durationMs, quint64 valueMs, QWidget* parent)
{
    auto* box = new QDoubleSpinBox(parent);
    box->setDecimals(3);
    box->setRange(0, durationMs / 1000.0);
    box->setSingleStep(1);
    box->setSuffix(QStringLiteral(" s"));
    box->setValue(valueMs / 1000.0);
    return box;
}

} // namespace

ExportDialog::ExportDialog(const QString& recording, quint64 durationMs, quint64 fromMs,
                           quint64 toMs, QWidget* parent)
    : QDialog(parent), m_recording(recording)
{
    setWindowTitle(tr("Export clip"));
    m_from = secondsBox(durationMs, fromMs, this);
    m_to = secondsBox(durationMs, toMs, this);

    const QFileInfo source(recording);
    m_output = new QLineEdit(source.absoluteDir().filePath(source.completeBaseName()
                                                           + QStringLiteral(".mp4")),
                             this);
    auto* browse = new QPushButton(tr("Browse…"), this);
    connect(browse, &QPushButton::clicked, this, &ExportDialog::browse);
    auto* outputRow = new QHBoxLayout;
    outputRow->addWidget(m_output, 1);
    outputRow->addWidget(browse);

    m_format = new QComboBox(this);
    m_format->addItem(tr("MP4 (H.264, AAC)"), QStringLiteral(".mp4"));
    m_format->addItem(tr("WebM (VP9, Opus)"), QStringLiteral(".webm"));
    connect(m_format, &QComboBox::currentIndexChanged, this, &ExportDialog::formatChanged);

    m_size = new QComboBox(this);
    for (int height : kHeights)
        m_size->addItem(height == 0 ? tr("As recorded") : tr("%1 lines").arg(height), height);

    m_pointer = new QCheckBox(tr("Draw the pointer"), this);
    m_pointer->setChecked(true);
    m_sound = new QCheckBox(tr("Include the sound"), this);
    m_sound->setChecked(true);

    auto* form = new QFormLayout;
    form->addRow(tr("From:"), m_from);
    form->addRow(tr("To:"), m_to);
    form->addRow(tr("File:"), outputRow);
    form->addRow(tr("Format:"), m_format);
    form->addRow(tr("Size:"), m_size);
    form->addRow(QString(), m_pointer);
    form->addRow(QString(), m_sound);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(tr("Export"));
    connect(buttons, &QDialogButtonBox::accepted, this, &ExportDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ExportDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
}

ExportSettings ExportDialog::settings() const
{
    ExportSettings s;
    s.recording = m_recording;
    s.output = m_output->text().trimmed();
    s.fromMs = static_cast<quint64>(std::llround(m_from->value() * 1000));
    s.toMs = static_cast<quint64>(std::llround(m_to->value() * 1000));
    s.height = m_size->currentData().toInt();
    s.cursor = m_pointer->isChecked();
    s.sound = m_sound->isChecked();
    return s;
}

void ExportDialog::accept()
{
    // What the engine would refuse at once is said here, with the dialog
    // still open to correct it; the rest (a folder that cannot be written)
    // comes back from the export itself.
    const ExportSettings s = settings();
    ExportSettings::Container container;
    QString problem;
    if (s.toMs <= s.fromMs)
        problem = tr("The clip ends before it starts.");
    else if (s.output.isEmpty() || !ExportSettings::containerFor(s.output, container))
        problem = tr("The file's name must end in .mp4 or .webm.");
    else if (QFileInfo(s.output).absoluteFilePath() == QFileInfo(m_recording).absoluteFilePath())
        problem = tr("The video would replace the recording.");
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, windowTitle(), problem);
        return;
    }
    QDialog::accept();
}

void ExportDialog::browse()
{
    const QString suffix = m_format->currentData().toString();
    const QString path = QFileDialog::getSaveFileName(
        this, tr("Export clip"), m_output->text(),
        suffix == QLatin1String(".webm") ? tr("WebM video (*.webm)") : tr("MP4 video (*.mp4)"));
    if (!path.isEmpty())
        m_output->setText(path);
}

void ExportDialog::formatChanged(int index)
{
    // The file's extension follows the format.
    const QString suffix = m_format->itemData(index).toString();
    QString path = m_output->text();
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot > path.lastIndexOf(QLatin1Char('/')))
        path.truncate(dot);
    m_output->setText(path + suffix);
}
