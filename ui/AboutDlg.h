#pragma once

#include <QDialog>

// Help, About: the program's icon, name and version, and an OK button.
class CAboutDlg : public QDialog
{
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
