// The save dialog for pictures: Qt's own (non-native) file dialog with a
// preview pane showing the picture in the selected file, so the user sees
// what an existing file holds before overwriting it. Lives as long as the
// main window, which keeps the last file name from one Save As to the next.
#pragma once

#include <QDialog>
#include <QFileDialog>
#include <QImage>
#include <QString>

#include <optional>

class QLabel;
class QPushButton;

// Whatever asks the user for a file name to save to.
class TPictureFileChooser {
public:
    virtual ~TPictureFileChooser() = default;
    // True when the user confirmed a name.
    virtual bool Execute() = 0;
    // The full path chosen.
    virtual QString FileName() const = 0;
};

// Shows a picture stretched proportionally and centred, or "(None)".
class TPictureView : public QWidget {
    Q_OBJECT
public:
    explicit TPictureView(QWidget* parent = nullptr);
    void SetPicture(const std::optional<QImage>& picture);
    bool HasPicture() const { return FPicture.has_value(); }
    // Where the picture lands inside a box of size box: proportional,
    // centred, never enlarged beyond the picture's own size.
    static QRect FitRect(QSize picture, QSize box);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<QImage> FPicture;
};

// The pane beside the file list: caption, picture, and the button that
// opens the picture in a window of its own.
class TPicturePreview : public QWidget {
    Q_OBJECT
public:
    explicit TPicturePreview(QWidget* parent = nullptr);

    // Loads the file by its extension; failures just show "(None)".
    void SetFileName(const QString& fileName);

    QLabel* Caption() const { return FCaption; }
    QPushButton* PreviewButton() const { return FPreviewButton; }
    TPictureView* View() const { return FView; }

signals:
    void PreviewRequested(const QImage& picture);

private:
    QLabel* FCaption;
    TPictureView* FView;
    QPushButton* FPreviewButton;
    std::optional<QImage> FPicture;
};

// The "Preview" window: the picture in a 5-pixel border, at most three
// quarters of the monitor.
class TPreviewWindow : public QDialog {
    Q_OBJECT
public:
    TPreviewWindow(const QImage& picture, QWidget* parent = nullptr);
    static constexpr int Border = 5;
    // The client size for a picture on a monitor of the given size.
    static QSize ClientSize(QSize picture, QSize monitor);
};

class TSavePictureDialog : public QFileDialog, public TPictureFileChooser {
    Q_OBJECT
public:
    explicit TSavePictureDialog(QWidget* parent = nullptr);

    bool Execute() override;
    QString FileName() const override { return FFileName; }
    void SetFileName(const QString& fileName) { FFileName = fileName; }
    int FilterIndex() const { return FFilterIndex; }

    TPicturePreview* Preview() const { return FPreview; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    TPicturePreview* FPreview;
    QString FFileName;
    int FFilterIndex = 1;
};
