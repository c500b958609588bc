#pragma once

#include <QStatusBar>
#include <QString>
#include <QStringList>

class QLabel;

namespace platform {

// The status bar control in its simple style: it shows its simple text and
// keeps its panels without showing them. It docks itself to the bottom edge
// of the form it is given, over the full width, at the height it is given.
//
// The simple text is drawn by a label of the bar's own, so that no status
// tip or temporary message of Qt can overwrite it, and it repaints at once
// when it changes, since the handlers that set it hold the thread.
class StatusBar final : public QStatusBar {
    Q_OBJECT
public:
    StatusBar(QWidget* form, int height);

    QString SimpleText() const;
    void setSimpleText(const QString& text);

    // Panels, numbered from 1.
    int PanelCount() const { return static_cast<int>(panels_.size()); }
    QString PanelText(int index) const;
    void setPanelText(int index, const QString& text);
    void addPanel(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Panels are counted from 1; any other index is the runtime error.
    qsizetype panelPosition(int index) const;

    void dock();

    QWidget* form_;
    int height_;
    QLabel* simpleText_;
    QStringList panels_;
};

}  // namespace platform
