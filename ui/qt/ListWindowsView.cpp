#include "ui/qt/ListWindowsView.h"

#include "ui/qt/Binding.h"
#include "ui/qt/QtPlacement.h"
#include "ui/qt/QtStyles.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>

namespace vl {

// ---------------------------------------------------------------------------
// TStringListView

TStringListView::TStringListView(TShowStringListDialog &ALogic, QWidget *AParent)
    : TLogicDialog(ALogic, AParent), FLogic(ALogic)
{
    setObjectName(QStringLiteral("ShowStringListDialog"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    auto *main = new QVBoxLayout(this);
    auto *desc = new QLabel(this);
    desc->setObjectName(QStringLiteral("laDesc"));
    desc->setTextFormat(Qt::PlainText);
    desc->setWordWrap(true);
    BindLabel(desc, FLogic.laDesc);
    main->addWidget(desc);

    FList = new QListWidget(this);
    FList->setObjectName(QStringLiteral("lbStrings"));
    // The design size of the window (449 x 265), which fitting the dialog
    // to its contents would otherwise shrink.
    FList->setMinimumSize(425, 170);
    BindListBox(FList, FLogic.lbStrings);
    main->addWidget(FList, 1);
    // A status list follows the newest line.
    connect(FList->model(), &QAbstractItemModel::rowsInserted, FList, [this] {
        if (!FLogic.paBottom.Visible())
            FList->scrollToBottom();
    });

    auto *bottom = new QWidget(this);
    bottom->setObjectName(QStringLiteral("paBottom"));
    BindControl(bottom, FLogic.paBottom);
    auto *row = new QHBoxLayout(bottom);
    row->setContentsMargins(0, 0, 0, 0);
    auto *status = new QLabel(bottom);
    status->setObjectName(QStringLiteral("laStatus"));
    status->setTextFormat(Qt::PlainText);
    status->setWordWrap(true);
    BindLabel(status, FLogic.laStatus);
    row->addWidget(status, 1);
    auto *closeBtn = new QPushButton(bottom);
    closeBtn->setObjectName(QStringLiteral("CancelBtn"));
    closeBtn->setDefault(true);
    BindButton(closeBtn, FLogic.CancelBtn);
    row->addWidget(closeBtn);
    main->addWidget(bottom);

    FFormObserver = FLogic.Form.Subscribe([this](TControlState &, TStateAspect AAspect) {
        if (AAspect == TStateAspect::saVisible && !FLogic.Form.Visible() && !isModal())
            close();
        else if (AAspect == TStateAspect::saCaption)
            setWindowTitle(FLogic.Form.Caption());
    });
}

TStringListView::~TStringListView()
{
    FLogic.Form.Unsubscribe(FFormObserver);
}

void TStringListView::ShowStatus()
{
    if (!FStatusWindow) {
        FStatusWindow = true;
        setAttribute(Qt::WA_DeleteOnClose);
        connect(this, &QDialog::finished, this, [this] {
            FLogic.Form.SetVisible(false);
            deleteLater();
        });
    }
    setWindowTitle(FLogic.Form.Caption());
    // The corners need the size the window is shown with, its frame
    // included, which is known once it is shown.
    adjustSize();
    show();
    QScreen *screen = this->screen();
    QScreen *primary = QGuiApplication::primaryScreen();
    const QSize workArea = screen ? screen->availableGeometry().size() : QSize();
    const QPoint origin = primary ? primary->availableGeometry().topLeft() : QPoint();
    const QRect full = screen ? screen->geometry() : QRect();
    move(TShowStringListDialog::StatusListOrigin(FLogic.StatusPos(), frameGeometry().size(), workArea, origin,
                                                 full));
    raise();
}

// ---------------------------------------------------------------------------
// TListSelectPopup

namespace {

// The entries as the popup shows them: fixed height, the selected one on
// its own background, black text indented by 18 % of the height.
class TPopupDelegate : public QStyledItemDelegate {
public:
    TPopupDelegate(const TListSelectDialog &ALogic, QObject *AParent) : QStyledItemDelegate(AParent), FLogic(ALogic) {}

    QSize sizeHint(const QStyleOptionViewItem &AOption, const QModelIndex &AIndex) const override
    {
        return QSize(QStyledItemDelegate::sizeHint(AOption, AIndex).width(), TListSelectDialog::kItemHeight);
    }

    void paint(QPainter *APainter, const QStyleOptionViewItem &AOption, const QModelIndex &AIndex) const override
    {
        const QRect r = AOption.rect;
        const bool selected = AOption.state & QStyle::State_Selected;
        APainter->fillRect(r, ToQColor(selected ? TListSelectDialog::kSelectedColor : FLogic.BakColor(),
                                       AOption.palette));
        const int indent = r.height() * 18 / 100;
        APainter->setPen(Qt::black);
        APainter->drawText(r.adjusted(indent, indent, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                           AIndex.data(Qt::DisplayRole).toString());
        if (AOption.state & QStyle::State_HasFocus) {
            APainter->setPen(QPen(Qt::black, 1, Qt::DotLine));
            APainter->drawRect(r.adjusted(0, 0, -1, -1));
        }
    }

private:
    const TListSelectDialog &FLogic;
};

} // namespace

TListSelectPopup::TListSelectPopup(TListSelectDialog &ALogic)
    : QFrame(nullptr, Qt::Popup | Qt::FramelessWindowHint), FLogic(ALogic)
{
    setObjectName(QStringLiteral("ListSelectDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    FList = new QListWidget(this);
    FList->setObjectName(QStringLiteral("lbSelect"));
    FList->setItemDelegate(new TPopupDelegate(FLogic, FList));
    FList->setFrameShape(QFrame::NoFrame);
    FList->addItems(FLogic.lbSelect.Texts());
    FList->setCurrentRow(FLogic.lbSelect.ItemIndex());
    layout->addWidget(FList);
    connect(FList, &QListWidget::itemClicked, this, [this](QListWidgetItem *AItem) {
        FLogic.UserClick(FList->row(AItem));
    });
    connect(FList, &QListWidget::itemActivated, this, [this](QListWidgetItem *AItem) {
        FLogic.UserClick(FList->row(AItem));
    });
    FFormObserver = FLogic.Form.Subscribe([this](TControlState &, TStateAspect AAspect) {
        if (AAspect == TStateAspect::saVisible && !FLogic.Form.Visible())
            close();
    });
}

TListSelectPopup::~TListSelectPopup()
{
    FLogic.Form.Unsubscribe(FFormObserver);
}

void TListSelectPopup::Popup(QPoint APos, int AHeight)
{
    const QFontMetrics metrics(FList->font());
    const QSize client =
        FLogic.ClientSize([&metrics](const QString &AText) { return metrics.horizontalAdvance(AText); }, AHeight);
    // The list's own size hints must not widen or heighten the popup.
    FList->setMinimumSize(0, 0);
    FList->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    setFixedSize(client);
    PlaceFormAt(this, APos);
    show();
    FList->setFocus();
}

void TListSelectPopup::hideEvent(QHideEvent *AEvent)
{
    QFrame::hideEvent(AEvent);
    // Losing the focus (a click elsewhere) closes the popup.
    if (FLogic.Form.Visible())
        FLogic.Deactivate();
    close();
}

} // namespace vl
