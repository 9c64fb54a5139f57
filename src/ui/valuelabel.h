#pragma once

#include <QLabel>
#include <QTimer>

// A label that shows text from outside the program: always plain text. A single line too
// long for the label keeps its beginning in view, cut with an ellipsis; a wrapping label
// breaks at word boundaries where possible and anywhere where a word is wider than it.
// A wrapping label too small for its text shows the lines that fit and ends the last in an
// ellipsis. Its accessible name follows its text, but at most a few times a second, so that
// fast reply lines do not flood assistive technology.
class ValueLabel : public QLabel
{
    Q_OBJECT
public:
    explicit ValueLabel(QWidget *parent = nullptr);

    void setValue(const QString &text);
    void setWrapAnywhere(bool on) { m_wrapAnywhere = on; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void publishName();
    void endQuietInterval();

    QTimer m_nameUpdate;
    bool m_namePending = false;
    bool m_wrapAnywhere = false;
};
