#pragma once

#include "views/kit/text_block.h"

#include "store/appearance.h"
#include "views/flow/flow_texts.h"
#include "views/flow/session_flow_state.h"

#include <QAbstractListModel>
#include <QListView>
#include <QStyledItemDelegate>
#include <QWidget>

#include <memory>
#include <vector>

class QScrollArea;
class QScrollBar;
class QStackedLayout;
class QVariantAnimation;

namespace orvane {

class FlowCapsuleButton;
class FlowLinkButton;
class FlowSpinner;
class FlowSymbol;

enum class FlowRowKind { Client, Job, Task };

// The rows of one step for the list view: the rows of the whole list, made
// once per list, and the positions the filter lets through. A key press
// hands over positions only; the view lays out and paints the visible rows.
class FlowRowModel : public QAbstractListModel {
    Q_OBJECT
public:
    using Rows = std::shared_ptr<const std::vector<FlowRow>>;
    using QAbstractListModel::QAbstractListModel;
    // False (and no reset) when the rows are the same.
    bool setRows(Rows all, const std::vector<std::size_t>& shown);
    int size() const { return int(shown_.size()); }
    const FlowRow& row(int i) const { return (*all_)[shown_[std::size_t(i)]]; }
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    Rows all_;
    std::vector<std::size_t> shown_;
};

// Paints a row in its shell: client avatar, job bar or task play symbol, the
// title over its second line, and the chevron or "START".
class FlowRowDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kShellPadding = 16;
    static constexpr int kTopInset = 6;
    static constexpr int kBottomInset = 12;
    static constexpr int kSpacing = 4;
    static constexpr qreal kCornerRadius = 11;

    FlowRowDelegate(FlowRowKind kind, QObject* parent = nullptr);
    void setLook(bool light, int highlightedRow) {
        light_ = light;
        highlighted_ = highlightedRow;
    }
    // The shell of a row within the item's rectangle.
    static QRect shellRect(const QRect& itemRect, int row, int rowCount);
    int rowHeight() const { return rowHeight_; }

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    FlowRowKind kind_;
    int rowHeight_;
    bool light_ = false;
    int highlighted_ = -1;
};

// The list of a step. It never takes the keyboard focus.
class FlowRowList : public QListView {
    Q_OBJECT
public:
    explicit FlowRowList(FlowRowKind kind, QWidget* parent = nullptr);
    FlowRowKind kind() const { return kind_; }
    // True when the rows changed.
    bool setRows(FlowRowModel::Rows all, const std::vector<std::size_t>& shown);
    int rowCount() const { return model_->size(); }
    const FlowRow& row(int i) const { return model_->row(i); }
    void setLook(bool light, int highlightedRow);
    int highlightedRow() const { return highlighted_; }
    // Brings the row to the vertical centre (as far as the list allows);
    // animated over 0.12 s while on screen. The row stays placed so when the
    // list's height changes.
    void scrollToRow(int row);
    bool isScrollAnimating() const;
    // The vertical offset the current or last scroll is heading for.
    int scrollTarget() const { return scrollTarget_; }
    // The indicator over the rows' trailing margin.
    QScrollBar* scrollIndicator() const { return indicator_; }
    // A row's shell in the viewport's coordinates.
    QRect rowRect(int row) const;
    // Picks the row as a click on it does (a screen reader's press).
    void activateRow(int row);
    // Tells assistive technology that the highlight moved: its row becomes
    // the focused and selected item while the search field keeps the keys.
    void announceHighlight();
    bool highlightAnnounced() const { return announced_; }

Q_SIGNALS:
    void rowClicked(int row);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeRow(int row, bool animated);

    FlowRowKind kind_;
    FlowRowModel* model_;
    FlowRowDelegate* delegate_;
    QVariantAnimation* scroll_;
    QScrollBar* indicator_;
    int highlighted_ = -1;
    bool light_ = false;
    bool lookSet_ = false;
    bool announced_ = false;
    int scrollTarget_ = 0;
    int placedRow_ = -1;
};

// One step below the search row: its loading indicator, its empty state or
// its rows.
class FlowStepPage : public QWidget {
    Q_OBJECT
public:
    explicit FlowStepPage(FlowRowKind kind, QWidget* parent = nullptr);

    void setContent(StepContent content);
    StepContent content() const { return content_; }
    void setEmptyState(const EmptyStateContent& state);
    void setLook(bool light, AccentStyle accent);

    FlowRowList* list() const { return list_; }
    FlowSpinner* spinner() const { return spinner_; }
    FlowCapsuleButton* retryButton() const { return retry_; }
    FlowLinkButton* secondaryButton() const { return secondary_; }
    TextBlock* headline() const { return headline_; }
    TextBlock* explanation() const { return explanation_; }
    TextBlock* errorLine() const { return error_; }

Q_SIGNALS:
    void retryClicked();
    void secondaryClicked();

private:
    StepContent content_ = StepContent::Loading;
    EmptyStateContent emptyState_;
    QStackedLayout* stack_;
    QWidget* loadingPage_;
    FlowSpinner* spinner_;
    QScrollArea* emptyPage_;
    FlowSymbol* symbol_;
    TextBlock* headline_;
    TextBlock* explanation_;
    TextBlock* error_;
    FlowCapsuleButton* retry_;
    FlowLinkButton* secondary_;
    FlowRowList* list_;
};

} // namespace orvane
