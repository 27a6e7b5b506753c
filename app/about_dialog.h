#pragma once

#include <QDialog>
#include <QHash>

class LinkLabel;

// "About Kalvosan..": the program's icon, name and version, maker, rights, and three links.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget *parent = nullptr);

    QWidget *item(int id) const { return m_items.value(id); }
    LinkLabel *m_supportLink = nullptr; // the icon, 1042
    LinkLabel *m_webLink = nullptr;     // 1043
    LinkLabel *m_mailLink = nullptr;    // 1045

private:
    QHash<int, QWidget *> m_items;
};
