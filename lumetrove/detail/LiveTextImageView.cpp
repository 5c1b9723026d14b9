#include "lumetrove/detail/LiveTextImageView.h"

#include "lumetrove/platform/Log.h"

#include <QClipboard>
#include <QFutureWatcher>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <cmath>

namespace lumetrove {

std::vector<LiveTextWord> liveTextWords(const RecognizedText& text)
{
    std::vector<LiveTextWord> words;
    int line = 0;
    for (const RecognizedLine& recognizedLine : text.lines) {
        for (const RecognizedWord& word : recognizedLine.words) {
            if (!word.text.isEmpty() && !word.boundingBox.isEmpty()) {
                words.push_back({word.text, word.boundingBox, line});
            }
        }
        ++line;
    }
    return words;
}

int liveTextWordAt(const std::vector<LiveTextWord>& words, QPointF imagePoint)
{
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i].box.contains(imagePoint)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

QString liveTextSelection(const std::vector<LiveTextWord>& words, int from, int to)
{
    if (from < 0 || to < 0 || words.empty()) {
        return {};
    }
    const int last = static_cast<int>(words.size()) - 1;
    const int first = std::clamp(std::min(from, to), 0, last);
    const int end = std::clamp(std::max(from, to), 0, last);
    QString text = words[static_cast<std::size_t>(first)].text;
    for (int i = first + 1; i <= end; ++i) {
        const LiveTextWord& word = words[static_cast<std::size_t>(i)];
        text += word.line == words[static_cast<std::size_t>(i - 1)].line ? QLatin1Char(' ') : QLatin1Char('\n');
        text += word.text;
    }
    return text;
}

double panOrigin(double originAtPress, double pointerAtPress, double pointer, double document, double visible)
{
    double candidate = originAtPress - (pointer - pointerAtPress);
    candidate = std::min(candidate, document - visible);
    return candidate <= 0 ? 0 : candidate;
}

/// Paints the image at the view's magnification with the selected words highlighted, and turns presses on
/// words into a selection. Presses elsewhere are left to the view, which pans.
class LiveTextCanvas : public QWidget {
public:
    explicit LiveTextCanvas(LiveTextImageView* view) : QWidget(view), view_(view)
    {
        setMouseTracking(true);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        if (view_->image_.isNull()) {
            return;
        }
        QPainter painter(this);
        const double zoom = view_->imageZoom_;
        painter.setRenderHint(QPainter::SmoothPixmapTransform, zoom != 1.0);
        // Only the exposed part is scaled: a 4K image at a low zoom stays cheap to repaint.
        const QRectF exposed = event->rect();
        const QRectF source(exposed.x() / zoom, exposed.y() / zoom, exposed.width() / zoom, exposed.height() / zoom);
        painter.drawImage(exposed, view_->image_, source);
        if (view_->anchor_ >= 0 && view_->focus_ >= 0) {
            QColor highlight = palette().color(QPalette::Highlight);
            highlight.setAlphaF(0.35f);
            painter.scale(zoom, zoom);
            const int first = std::min(view_->anchor_, view_->focus_);
            const int last = std::max(view_->anchor_, view_->focus_);
            for (int i = first; i <= last && i < static_cast<int>(view_->words_.size()); ++i) {
                painter.fillRect(view_->words_[static_cast<std::size_t>(i)].box, highlight);
            }
        }
    }

    void mousePressEvent(QMouseEvent* event) override
    {
        const int word = wordAt(event->position());
        if (event->button() == Qt::RightButton) {
            // The context menu acts on the selection: a right click keeps it.
            view_->setFocus(Qt::MouseFocusReason);
            event->ignore();
            return;
        }
        if (event->button() != Qt::LeftButton || word < 0) {
            view_->setSelection(-1, -1);
            event->ignore();
            return;
        }
        selecting_ = true;
        view_->setFocus(Qt::MouseFocusReason);
        view_->setSelection(word, word);
    }

    void mouseMoveEvent(QMouseEvent* event) override
    {
        const int word = wordAt(event->position());
        if (!selecting_) {
            setCursor(word >= 0 ? Qt::IBeamCursor : Qt::OpenHandCursor);
            event->ignore();
            return;
        }
        if (word >= 0) {
            view_->setSelection(view_->anchor_, word);
        }
    }

    void mouseReleaseEvent(QMouseEvent* event) override
    {
        if (!selecting_) {
            event->ignore();
            return;
        }
        selecting_ = false;
    }

private:
    int wordAt(QPointF position) const { return liveTextWordAt(view_->words_, position / view_->imageZoom_); }

    LiveTextImageView* view_;
    bool selecting_ = false;
};

namespace {

struct LiveTextOutcome {
    std::optional<RecognizedText> text;
    std::optional<QString> error;
    bool skipped = false;
};

} // namespace

LiveTextImageView::LiveTextImageView(std::shared_ptr<TextRecognizer> recognizer, QWidget* parent)
    : QScrollArea(parent), recognizer_(std::move(recognizer)), generation_(std::make_shared<std::atomic<quint64>>(0))
{
    canvas_ = new LiveTextCanvas(this);
    setWidget(canvas_);
    setWidgetResizable(false);
    setAlignment(Qt::AlignCenter);
    // The frame's band holds the focus ring, outside the picture and the scroll bars; without the focus it
    // is left blank.
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(focusRingWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    // In the Tab chain, so that a keyboard user can select and copy the picture's text.
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("Screenshot Image"));
    resizeCanvas();
}

LiveTextImageView::~LiveTextImageView()
{
    // A recognition still queued skips its work.
    ++*generation_;
}

QWidget* LiveTextImageView::canvas() const
{
    return canvas_;
}

QPointF LiveTextImageView::origin() const
{
    return {horizontalScrollBar()->value() / imageZoom_, verticalScrollBar()->value() / imageZoom_};
}

void LiveTextImageView::setImageZoom(double imageZoom)
{
    if (!(imageZoom > 0) || imageZoom == imageZoom_) {
        return;
    }
    const QPointF kept = origin();
    imageZoom_ = imageZoom;
    resizeCanvas();
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(kept.x() * imageZoom_)));
    verticalScrollBar()->setValue(static_cast<int>(std::lround(kept.y() * imageZoom_)));
}

void LiveTextImageView::setImage(const QImage& image)
{
    if (image.cacheKey() == imageKey_ && !image.isNull()) {
        return;
    }
    image_ = image;
    imageKey_ = image.isNull() ? 0 : image.cacheKey();
    words_.clear();
    liveTextReady_ = false;
    anchor_ = focus_ = -1;
    resizeCanvas();
    horizontalScrollBar()->setValue(0);
    verticalScrollBar()->setValue(0);
    canvas_->update();
    startLiveText();
}

void LiveTextImageView::cancelLiveText()
{
    if (!liveTextReady_) {
        ++*generation_;
    }
}

void LiveTextImageView::releaseImage()
{
    cancelLiveText();
    image_ = QImage();
    imageKey_ = 0;
}

void LiveTextImageView::restoreImage(const QImage& image)
{
    image_ = image;
    imageKey_ = image.isNull() ? 0 : image.cacheKey();
    // The same picture: the canvas keeps its size, and so the scroll position stays.
    resizeCanvas();
    if (!liveTextReady_) {
        startLiveText();
    }
}

void LiveTextImageView::resizeCanvas()
{
    if (image_.isNull()) {
        canvas_->setFixedSize(0, 0);
        return;
    }
    canvas_->setFixedSize(std::max(1, static_cast<int>(std::lround(image_.width() * imageZoom_))),
                          std::max(1, static_cast<int>(std::lround(image_.height() * imageZoom_))));
    canvas_->update();
}

void LiveTextImageView::startLiveText()
{
    const quint64 generation = ++*generation_;
    if (image_.isNull()) {
        return;
    }
    std::shared_ptr<TextRecognizer> recognizer = recognizer_ ? recognizer_ : sharedTextRecognizer();
    auto* watcher = new QFutureWatcher<LiveTextOutcome>(this);
    connect(watcher, &QFutureWatcher<LiveTextOutcome>::finished, this, [this, watcher, generation] {
        watcher->deleteLater();
        const LiveTextOutcome outcome = watcher->result();
        if (outcome.skipped || *generation_ != generation) {
            return;
        }
        if (outcome.error) {
            printLine(*outcome.error);
        }
        words_ = outcome.text ? liveTextWords(*outcome.text) : std::vector<LiveTextWord>();
        liveTextReady_ = true;
        canvas_->update();
        emit liveTextChanged();
    });
    watcher->setFuture(QtConcurrent::run(
        QThreadPool::globalInstance(), [recognizer, image = image_, counter = generation_, generation] {
            LiveTextOutcome outcome;
            // The selection may have moved on while this waited for a thread.
            if (*counter != generation) {
                outcome.skipped = true;
                return outcome;
            }
            // A newer image gives this one up on the way: its reading would slow down the loading of the next.
            try {
                outcome.text = recognizer->recognizeUnlessCancelled(image, [&] { return *counter != generation; });
            } catch (const std::exception& error) {
                outcome.error = QString::fromUtf8(error.what());
            }
            return outcome;
        }));
}

void LiveTextImageView::setSelection(int anchor, int focus)
{
    if (anchor == anchor_ && focus == focus_) {
        return;
    }
    anchor_ = anchor;
    focus_ = focus;
    canvas_->update();
    emit selectionChanged();
}

QString LiveTextImageView::selectedText() const
{
    return liveTextSelection(words_, anchor_, focus_);
}

void LiveTextImageView::selectAll()
{
    if (!words_.empty()) {
        setSelection(0, static_cast<int>(words_.size()) - 1);
    }
}

void LiveTextImageView::copySelection() const
{
    const QString text = selectedText();
    if (!text.isEmpty()) {
        QGuiApplication::clipboard()->setText(text);
    }
}

void LiveTextImageView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        QScrollArea::mousePressEvent(event);
        return;
    }
    initialLocation_ = event->position();
    initialContentOffset_ = origin();
    viewport()->setCursor(Qt::ClosedHandCursor);
}

void LiveTextImageView::mouseMoveEvent(QMouseEvent* event)
{
    if (!initialLocation_ || !initialContentOffset_) {
        return;
    }
    // The pointer's travel is taken in view points and applied to the origin in image points, so the image
    // follows the pointer at the magnification's pace.
    const QPointF pointer = event->position();
    const QSizeF visible = QSizeF(viewport()->size()) / imageZoom_;
    const double x =
        panOrigin(initialContentOffset_->x(), initialLocation_->x(), pointer.x(), image_.width(), visible.width());
    const double y =
        panOrigin(initialContentOffset_->y(), initialLocation_->y(), pointer.y(), image_.height(), visible.height());
    horizontalScrollBar()->setValue(static_cast<int>(std::lround(x * imageZoom_)));
    verticalScrollBar()->setValue(static_cast<int>(std::lround(y * imageZoom_)));
}

void LiveTextImageView::mouseReleaseEvent(QMouseEvent* event)
{
    initialLocation_.reset();
    initialContentOffset_.reset();
    viewport()->unsetCursor();
    QScrollArea::mouseReleaseEvent(event);
}

void LiveTextImageView::focusInEvent(QFocusEvent* event)
{
    QScrollArea::focusInEvent(event);
    update();
}

void LiveTextImageView::focusOutEvent(QFocusEvent* event)
{
    QScrollArea::focusOutEvent(event);
    update();
}

bool LiveTextImageView::event(QEvent* event)
{
    if (event->type() == QEvent::Paint) {
        // The frame itself: the palette's highlight colour while the view has the focus, which stands out from
        // a light and a dark window alike; nothing otherwise.
        if (hasFocus()) {
            QPainter painter(this);
            const QColor ring = palette().color(QPalette::Active, QPalette::Highlight);
            for (int i = 0; i < focusRingWidth; ++i) {
                painter.setPen(ring);
                painter.drawRect(rect().adjusted(i, i, -1 - i, -1 - i));
            }
        }
        return true;
    }
    // The window's Edit menu holds Ctrl+C and Ctrl+A as shortcuts; while this view has focus its own copy and
    // select-all take the keys, as a text field's do.
    if (event->type() == QEvent::ShortcutOverride) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::SelectAll)) {
            event->accept();
            return true;
        }
    }
    return QScrollArea::event(event);
}

void LiveTextImageView::contextMenuEvent(QContextMenuEvent* event)
{
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QAction* copyAction = menu->addAction(QStringLiteral("Copy"), this, &LiveTextImageView::copy);
    copyAction->setShortcut(QKeySequence::Copy);
    copyAction->setEnabled(!selectedText().isEmpty());
    QAction* selectAllAction = menu->addAction(QStringLiteral("Select All"), this, &LiveTextImageView::selectAll);
    selectAllAction->setShortcut(QKeySequence::SelectAll);
    selectAllAction->setEnabled(!words_.empty());
    // popup(), not exec(): no nested event loop while a recognition or a reload arrives.
    menu->popup(event->globalPos());
    event->accept();
}

void LiveTextImageView::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        return;
    }
    QScrollArea::keyPressEvent(event);
}

} // namespace lumetrove
