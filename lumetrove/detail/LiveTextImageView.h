#pragma once

#include "lumetrove/platform/TextRecognizer.h"

#include <QImage>
#include <QPointF>
#include <QScrollArea>
#include <atomic>
#include <memory>
#include <optional>
#include <vector>

namespace lumetrove {

// Live text: the recognised words of the shown image, drawn as a selectable layer over it. Pressing on a
// word starts a text selection; pressing anywhere else pans the image.

/// One word of the live-text layer, its box in image pixels, and the line it belongs to.
struct LiveTextWord {
    QString text;
    QRectF box;
    int line = 0;
};

/// The words of a recognition, in reading order.
std::vector<LiveTextWord> liveTextWords(const RecognizedText& text);
/// The index of the word whose box holds `imagePoint`, or -1.
int liveTextWordAt(const std::vector<LiveTextWord>& words, QPointF imagePoint);
/// The words from index `from` to `to` (either order), joined by a blank within a line and a line feed
/// between lines.
QString liveTextSelection(const std::vector<LiveTextWord>& words, int from, int to);

/// The new scroll origin on one axis while panning, in image points: the origin at the press moved against
/// the pointer's travel since the press, kept within [0, document − visible] (0 when the image fits).
double panOrigin(double originAtPress, double pointerAtPress, double pointer, double document, double visible);

class LiveTextCanvas;

/// The zoomable, pannable image of the detail pane with its live-text layer. An image smaller than the
/// visible area is centred. A new image (another QImage, by cache key) scrolls to the top-left, drops the
/// old words and selection, and starts its own recognition off the main thread; the recognition of an earlier
/// image is given up (or its result dropped when it comes in). The selected words are copied with Ctrl+C, the window's
/// Edit › Copy (the `copy` slot, found by name on the focused widget) or the context menu's "Copy"; Ctrl+A, Edit ›
/// Select All and "Select All" select every word. The view's own keys win over the window's shortcuts while it has
/// focus. It takes the focus by Tab as well as by a click, and shows a focus ring while it has it.
class LiveTextImageView : public QScrollArea {
    Q_OBJECT

public:
    /// `recognizer` null means the shared one.
    /// The width of the band around the picture that shows the focus ring.
    static constexpr int focusRingWidth = 2;

    explicit LiveTextImageView(std::shared_ptr<TextRecognizer> recognizer = nullptr, QWidget* parent = nullptr);
    ~LiveTextImageView() override;

    /// The magnification: 1 shows the image at its natural size. Changing it keeps the image, the scroll
    /// position (as far as it fits), the words and the selection.
    void setImageZoom(double imageZoom);
    double imageZoom() const { return imageZoom_; }
    /// Shows `image`; the same image again changes nothing. A null image shows nothing.
    void setImage(const QImage& image);
    const QImage& image() const { return image_; }
    /// The shown image is about to be replaced: its recognition, when not finished, is given up now rather
    /// than when the next image comes, so that it does not slow down the loading of that one. The image
    /// stays shown meanwhile, without live text.
    void cancelLiveText();
    /// Lets go of the image while the view is out of sight, keeping its words, the selection and the scroll
    /// position; a recognition under way is dropped.
    void releaseImage();
    /// The released image again (read anew from its file): the words kept are shown over it, or, when its
    /// recognition had not finished, it is recognised again.
    void restoreImage(const QImage& image);

    /// The words of the shown image; empty until its recognition finished.
    const std::vector<LiveTextWord>& words() const { return words_; }
    bool hasLiveText() const { return liveTextReady_; }
    /// The selected words in reading order: blanks within a line, line feeds between lines.
    QString selectedText() const;
    void copySelection() const;
    /// The canvas that paints the image and receives the pointer.
    QWidget* canvas() const;
    /// The scroll origin in image points.
    QPointF origin() const;

public slots:
    /// Copies the selected words to the clipboard as plain text; without a selection the clipboard is kept.
    void copy() { copySelection(); }
    void selectAll();

signals:
    /// The shown image's words arrived (possibly none).
    void liveTextChanged();
    void selectionChanged();

protected:
    bool event(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    friend class LiveTextCanvas;
    void resizeCanvas();
    void startLiveText();
    void setSelection(int anchor, int focus);

    std::shared_ptr<TextRecognizer> recognizer_;
    LiveTextCanvas* canvas_;
    double imageZoom_ = 1.0;
    QImage image_;
    qint64 imageKey_ = 0;
    std::vector<LiveTextWord> words_;
    bool liveTextReady_ = false;
    int anchor_ = -1;
    int focus_ = -1;
    /// Bumped for every new image; a recognition whose number is no longer current is skipped or dropped.
    std::shared_ptr<std::atomic<quint64>> generation_;
    std::optional<QPointF> initialLocation_;
    std::optional<QPointF> initialContentOffset_;
};

} // namespace lumetrove
