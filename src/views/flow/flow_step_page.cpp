#include "views/flow/flow_step_page.h"

#include "views/kit/text_block.h"

#include "views/flow/flow_list_accessible.h"
#include "views/flow/flow_look.h"
#include "views/flow/flow_widgets.h"
#include "views/kit/accessibility.h"
#include "views/kit/chrome.h"
#include "views/kit/fonts.h"
#include "views/kit/scroll_indicator.h"
#include "views/kit/palette.h"
#include "views/kit/symbols.h"

#include <QAccessible>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <cmath>

namespace orvane {

namespace {

QFont titleFont() {
    return systemFont(13, FontWeight::Semibold);
}
QFont subtitleFont() {
    return systemFont(11);
}
QFont startFont() {
    QFont font = systemFont(10, FontWeight::Bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.8);
    return font;
}

constexpr int kRowPaddingX = 10;
constexpr int kRowPaddingY = 7;
constexpr qreal kChevronSize = 11;

int textColumnHeight() {
    return QFontMetrics(titleFont()).height() + QFontMetrics(subtitleFont()).height();
}

// Title over its second line, each on one line, centred as a block.
void paintTextColumn(QPainter& p, const QRectF& box, const FlowRow& row, bool light) {
    const QFontMetricsF title(titleFont());
    const QFontMetricsF subtitle(subtitleFont());
    const qreal top = box.top() + (box.height() - title.height() - subtitle.height()) / 2;
    const int width = int(std::floor(box.width()));
    auto oneLine = [](QString text) { return text.replace(u'\n', u' '); };
    p.setFont(titleFont());
    p.setPen(flowTitleColor(light));
    p.drawText(QPointF(box.left(), top + title.ascent()),
               title.elidedText(oneLine(row.title), Qt::ElideRight, width));
    p.setFont(subtitleFont());
    p.setPen(flowMutedColor(light));
    p.drawText(QPointF(box.left(), top + title.height() + subtitle.ascent()),
               subtitle.elidedText(oneLine(row.subtitle), Qt::ElideRight, width));
}

} // namespace

// ---- FlowRowModel ----

bool FlowRowModel::setRows(Rows all, const std::vector<std::size_t>& shown) {
    if (all == all_ && shown == shown_)
        return false;
    beginResetModel();
    all_ = std::move(all);
    shown_.assign(shown.begin(), shown.end());
    endResetModel();
    return true;
}

int FlowRowModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : size();
}

QVariant FlowRowModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= size())
        return {};
    const FlowRow& row = this->row(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return row.title;
    case Qt::AccessibleDescriptionRole:
    case Qt::ToolTipRole:
        return row.subtitle;
    case Qt::UserRole:
        return row.rowId;
    default:
        return {};
    }
}

// ---- FlowRowDelegate ----

FlowRowDelegate::FlowRowDelegate(FlowRowKind kind, QObject* parent)
    : QStyledItemDelegate(parent), kind_(kind) {
    // Asked for every row at each new filter: measured once.
    const int lead = kind_ == FlowRowKind::Client ? 30 : kind_ == FlowRowKind::Job ? 32 : 0;
    rowHeight_ = std::max(lead, textColumnHeight()) + 2 * kRowPaddingY;
}

QRect FlowRowDelegate::shellRect(const QRect& itemRect, int row, int rowCount) {
    const int top = row == 0 ? kTopInset : 0;
    const int bottom = row == rowCount - 1 ? kBottomInset : kSpacing;
    return itemRect.adjusted(kShellPadding, top, -kShellPadding, -bottom);
}

QSize FlowRowDelegate::sizeHint(const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const int count = index.model() ? index.model()->rowCount() : 1;
    const int row = index.row();
    const int height =
        rowHeight() + (row == 0 ? kTopInset : 0) + (row == count - 1 ? kBottomInset : kSpacing);
    return {option.rect.width(), height};
}

void FlowRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    const auto* model = qobject_cast<const FlowRowModel*>(index.model());
    if (!model || index.row() >= model->size())
        return;
    const FlowRow& row = model->row(index.row());
    const bool highlighted = index.row() == highlighted_;
    const QRectF shell = shellRect(option.rect, index.row(), model->rowCount());

    QPainter& p = *painter;
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    paintShape(p, shell.adjusted(0.5, 0.5, -0.5, -0.5), kCornerRadius,
               selectableRowLook(light_, highlighted));

    const QRectF content = shell.adjusted(kRowPaddingX, kRowPaddingY, -kRowPaddingX, -kRowPaddingY);
    qreal left = content.left();
    qreal right = content.right();
    const qreal midY = content.center().y();

    switch (kind_) {
    case FlowRowKind::Client: {
        const QRectF avatar(left, midY - 15, 30, 30);
        QPainterPath square;
        square.addRoundedRect(avatar, 8, 8);
        p.fillPath(square, row.colour);
        p.setFont(systemFont(12, FontWeight::Bold));
        p.setPen(Qt::white);
        p.drawText(avatar, Qt::AlignCenter, row.initials);
        left = avatar.right() + 12;
        break;
    }
    case FlowRowKind::Job: {
        const QRectF bar(left, midY - 16, 3, 32);
        QPainterPath shape;
        shape.addRoundedRect(bar, 2, 2);
        p.fillPath(shape, row.colour);
        left = bar.right() + 10;
        break;
    }
    case FlowRowKind::Task: {
        const QColor tint =
            highlighted ? QColor::fromRgbF(Palette::indigo().redF(), Palette::indigo().greenF(),
                                           Palette::indigo().blueF(), 0.88f)
                        : flowMutedColor(light_);
        drawSymbol(p, u"play.fill", QPointF(left + 5, midY), 10, tint, FontWeight::Bold);
        left += 16 + 10;
        break;
    }
    }

    if (kind_ == FlowRowKind::Task) {
        QColor tint = highlighted ? Palette::indigo() : flowMutedColor(light_);
        if (highlighted)
            tint.setAlphaF(0.82f);
        const QString start = QStringLiteral("START");
        const QFontMetricsF metrics(startFont());
        const qreal width = metrics.horizontalAdvance(start);
        p.setFont(startFont());
        p.setPen(tint);
        p.drawText(QRectF(right - width - 1, content.top(), width + 1, content.height()),
                   Qt::AlignRight | Qt::AlignVCenter, start);
        right -= width + 1 + 20;
    } else {
        drawSymbol(p, u"chevron.right", QPointF(right - kChevronSize / 2, midY), kChevronSize,
                   flowSecondaryTextColor(light_), FontWeight::Semibold);
        right -= kChevronSize + 24;
    }
    paintTextColumn(p,
                    QRectF(left, content.top(), std::max<qreal>(right - left, 0), content.height()),
                    row, light_);
    p.restore();
}

// ---- FlowRowList ----

FlowRowList::FlowRowList(FlowRowKind kind, QWidget* parent)
    : QListView(parent), kind_(kind), model_(new FlowRowModel(this)),
      delegate_(new FlowRowDelegate(kind, this)), scroll_(new QVariantAnimation(this)) {
    installFlowListAccessibility();
    setModel(model_);
    setItemDelegate(delegate_);
    setFocusPolicy(Qt::NoFocus);
    setFrameShape(QFrame::NoFrame);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The indicator lies over the rows' right margin, which stays as wide as the left.
    indicator_ = overlayScrollIndicator(this, 8);
    setUniformItemSizes(false);
    setMouseTracking(false);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    setCursor(Qt::PointingHandCursor);
    scroll_->setDuration(120);
    scroll_->setEasingCurve(QEasingCurve::InOutQuad);
    connect(scroll_, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { verticalScrollBar()->setValue(value.toInt()); });
    connect(this, &QListView::clicked, this, [this](const QModelIndex& index) {
        if (index.isValid())
            Q_EMIT rowClicked(index.row());
    });
}

bool FlowRowList::setRows(FlowRowModel::Rows all, const std::vector<std::size_t>& shown) {
    if (!model_->setRows(std::move(all), shown))
        return false;
    announced_ = false;
    if (QAccessible::isActive()) {
        QAccessibleEvent reset(this, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&reset);
    }
    return true;
}

QRect FlowRowList::rowRect(int row) const {
    if (row < 0 || row >= model_->rowCount())
        return {};
    return FlowRowDelegate::shellRect(visualRect(model_->index(row)), row, model_->rowCount());
}

void FlowRowList::activateRow(int row) {
    if (row >= 0 && row < model_->rowCount())
        Q_EMIT rowClicked(row);
}

void FlowRowList::announceHighlight() {
    if (highlighted_ < 0 || highlighted_ >= model_->rowCount())
        return;
    announced_ = true;
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent selection(this, QAccessible::Selection);
    selection.setChild(highlighted_);
    QAccessible::updateAccessibility(&selection);
    QAccessibleEvent focus(this, QAccessible::Focus);
    focus.setChild(highlighted_);
    QAccessible::updateAccessibility(&focus);
}

void FlowRowList::setLook(bool light, int highlightedRow) {
    if (!lookSet_ || light != light_) {
        // A slim scroll indicator instead of the style's bar with arrows. The
        // list ends at the panel's rounded corner: the track ends above it, or
        // the thumb at the bottom would be cut along the curve.
        const QColor handle = light ? QColor(0, 0, 0, 60) : QColor(255, 255, 255, 50);
        indicator_->setStyleSheet(
            QStringLiteral("QScrollBar:vertical { background: transparent; width: 8px; margin: "
                           "2px 1px %2px 1px; }"
                           "QScrollBar::handle:vertical { background: %1; border-radius: 3px; "
                           "min-height: 24px; }"
                           "QScrollBar::add-line, QScrollBar::sub-line { height: 0; }"
                           "QScrollBar::add-page, QScrollBar::sub-page { background: none; }")
                .arg(handle.name(QColor::HexArgb))
                .arg(int(std::ceil(kPanelCornerRadius))));
        light_ = light;
        lookSet_ = true;
    }
    if (highlightedRow != highlighted_)
        announced_ = false;
    highlighted_ = highlightedRow;
    delegate_->setLook(light, highlightedRow);
    viewport()->update();
}

bool FlowRowList::isScrollAnimating() const {
    return scroll_->state() == QAbstractAnimation::Running;
}

void FlowRowList::scrollToRow(int row) {
    placeRow(row, isVisible());
}

void FlowRowList::resizeEvent(QResizeEvent* event) {
    QListView::resizeEvent(event);
    // A row is often placed before the list has its real height: the flow
    // is made before its window is laid out, and the stack sizes the rows'
    // page only a turn after it becomes current. Centred in Qt's stand-in
    // 30 pixels, the first row stayed scrolled half under the search field.
    if (event->size().height() != event->oldSize().height())
        placeRow(placedRow_, false);
}

void FlowRowList::placeRow(int row, bool animated) {
    if (row < 0 || row >= model_->rowCount())
        return;
    placedRow_ = row;
    scroll_->stop();
    executeDelayedItemsLayout();
    doItemsLayout();
    QScrollBar* bar = verticalScrollBar();
    const QRect item = visualRect(model_->index(row));
    const QRect shell = FlowRowDelegate::shellRect(item, row, model_->rowCount());
    const int target = std::clamp(bar->value() + shell.center().y() - viewport()->height() / 2,
                                  bar->minimum(), bar->maximum());
    scrollTarget_ = target;
    if (!animated || target == bar->value()) {
        bar->setValue(target);
        return;
    }
    scroll_->setStartValue(bar->value());
    scroll_->setEndValue(target);
    scroll_->start();
}

// ---- FlowStepPage ----

FlowStepPage::FlowStepPage(FlowRowKind kind, QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    stack_ = new QStackedLayout(this);

    loadingPage_ = new QWidget(this);
    auto* loading = new QVBoxLayout(loadingPage_);
    loading->setContentsMargins(FlowRowDelegate::kShellPadding, 6 + 32,
                                FlowRowDelegate::kShellPadding, 32);
    spinner_ = new FlowSpinner(loadingPage_);
    loading->addWidget(spinner_, 0, Qt::AlignHCenter);
    loading->addStretch(1);
    stack_->addWidget(loadingPage_);

    emptyPage_ = new QScrollArea(this);
    emptyPage_->setFrameShape(QFrame::NoFrame);
    emptyPage_->setFocusPolicy(Qt::NoFocus);
    emptyPage_->setWidgetResizable(true);
    emptyPage_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    emptyPage_->viewport()->setAutoFillBackground(false);
    auto* emptyBody = new QWidget;
    emptyBody->setAutoFillBackground(false);
    auto* column = new QVBoxLayout(emptyBody);
    // The step container's insets plus the empty state's own.
    column->setContentsMargins(FlowRowDelegate::kShellPadding + 8, 6 + 18,
                               FlowRowDelegate::kShellPadding + 8, 12 + 18);
    column->setSpacing(10);
    symbol_ = new FlowSymbol(QString(), 24, FontWeight::Medium, QSize(32, 28), emptyBody);
    const auto centredLines = [emptyBody](const QFont& font) {
        auto* text = new TextBlock(QString(), font, QColor(), TextBlock::Wrap::Lines, emptyBody);
        text->setAlignment(Qt::AlignHCenter);
        return text;
    };
    headline_ = centredLines(systemFont(15, FontWeight::Bold));
    explanation_ = centredLines(systemFont(12));
    error_ = centredLines(systemFont(11));
    error_->setColor(flowErrorColor());
    retry_ = new FlowCapsuleButton(QStringLiteral("Erneut laden"), emptyBody);
    secondary_ = new FlowLinkButton(QString(), emptyBody);
    column->addWidget(symbol_, 0, Qt::AlignHCenter);
    column->addWidget(headline_);
    column->addWidget(explanation_);
    column->addWidget(error_);
    column->addWidget(retry_, 0, Qt::AlignHCenter);
    column->addWidget(secondary_, 0, Qt::AlignHCenter);
    column->addStretch(1);
    emptyPage_->setWidget(emptyBody);
    stack_->addWidget(emptyPage_);

    list_ = new FlowRowList(kind, this);
    stack_->addWidget(list_);

    connect(retry_, &QAbstractButton::clicked, this, &FlowStepPage::retryClicked);
    connect(secondary_, &QAbstractButton::clicked, this, &FlowStepPage::secondaryClicked);
    setContent(StepContent::Loading);
}

void FlowStepPage::setContent(StepContent content) {
    // Rows say themselves as the keyboard reaches them; an empty or failed
    // list says nothing unless told.
    if (content != content_ && content != StepContent::Rows && content != StepContent::Loading &&
        isVisible())
        announce(this, flowEmptyStateSentence(emptyState_));
    content_ = content;
    switch (content) {
    case StepContent::Loading:
        stack_->setCurrentWidget(loadingPage_);
        break;
    case StepContent::Failed:
    case StepContent::Empty:
        stack_->setCurrentWidget(emptyPage_);
        break;
    case StepContent::Rows:
        stack_->setCurrentWidget(list_);
        break;
    }
}

void FlowStepPage::setEmptyState(const EmptyStateContent& state) {
    emptyState_ = state;
    symbol_->setName(state.symbol);
    headline_->setText(state.headline);
    explanation_->setText(state.explanation);
    explanation_->setVisible(!state.explanation.isEmpty());
    error_->setText(state.errorLine.value_or(QString()));
    error_->setVisible(state.errorLine.has_value());
    secondary_->setText(state.secondaryTitle.value_or(QString()));
    secondary_->setVisible(state.secondaryTitle.has_value());
}

void FlowStepPage::setLook(bool light, AccentStyle accent) {
    spinner_->setColour(flowMutedColor(light));
    symbol_->setColour(flowMutedColor(light));
    headline_->setColor(flowTitleColor(light));
    explanation_->setColor(flowMutedColor(light));
    retry_->setAccentStyle(accent);
    list_->setLook(light, list_->highlightedRow());
}

} // namespace orvane
