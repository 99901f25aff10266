#pragma once

#include "platform/FileDialog.h"

class QWidget;

// Qt's own file dialog.
class QtFileDialog final : public FileDialog
{
public:
    explicit QtFileDialog(QWidget *parent) : m_parent(parent) {}
    void ShowOpen() override;

private:
    QWidget *m_parent;
};
