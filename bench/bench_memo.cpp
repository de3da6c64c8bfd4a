// The main window's result memo with a long collision list: how long the list takes to appear and
// how usable the window is afterwards. Prints figures (medians of five rounds); checks nothing.
// Offscreen unless QT_QPA_PLATFORM says otherwise (e.g. xcb under Xvfb).
//
//   bench_memo [collisions ...]      (default: 10000 100000)
//
// Each size is measured twice: the memo as the window sets it up and fills it, and a plain
// appendPlainText on Qt's defaults (the text direction left to Qt to find out, no layout kept),
// which is what made the memo slow.

#include "forms/frmNorvelMain.h"
#include "shell/NorvelApplication.h"

#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTextBlock>
#include <QTextLayout>
#include <QWindow>

#include <algorithm>
#include <array>
#include <cstdio>
#include <malloc.h>

namespace {

// As the run builds it: a blank before every card number, in the order found.
QString collisionList(int count)
{
    QRandomGenerator random(42);
    QString list;
    list.reserve(static_cast<qsizetype>(count) * 10);
    for (int i = 0; i < count; ++i) {
        list += u' ';
        // Card numbers of one to eight characters, mostly long ones.
        const int digits = 8 - static_cast<int>(random.bounded(0, 8) / 3);
        for (int d = 0; d < digits; ++d)
            list += QChar(u'0' + static_cast<char16_t>(random.bounded(0, 10)));
    }
    return list;
}

double ms(const QElapsedTimer &t)
{
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

void settle()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

void typeKey(QWidget *target, Qt::Key key, const QString &text, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(target, &press);
    QCoreApplication::sendEvent(target, &release);
}

enum Figure { Append, FirstPaint, Shown, KeyAtEnd, KeyInHeading, PageDown, Resize, FigureCount };
const char *const FigureNames[FigureCount] = {"append",      "first paint", "shown (append, paint, events)",
                                              "key at end",  "key in heading", "page down from the top",
                                              "memo width change"};

struct Round
{
    std::array<double, FigureCount> ms{};
    int wrappedLines = 0;
    double heapGrowth = 0;   // MiB in use after the list is shown
};

Round measure(const QString &list, bool plain)
{
    Round round;
    TNorvelMain window;
    auto *memo = window.findChild<QPlainTextEdit *>(QStringLiteral("memErr"));
    if (plain) {
        QTextOption option = memo->document()->defaultTextOption();
        option.setTextDirection(Qt::LayoutDirectionAuto);
        memo->document()->setDefaultTextOption(option);
    }
    const auto append = [&](const QString &line) {
        if (plain)
            memo->appendPlainText(line);
        else
            TNorvelMain::appendResultLine(memo, line);
    };
    window.show();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    settle();

    // What the run does at its end: the heading, then the list as one line.
    const size_t heapBefore = mallinfo2().uordblks;
    QElapsedTimer t;
    t.start();
    append(PaddingRun::CollisionHeading);
    append(list);
    round.ms[Append] = ms(t);
    t.restart();
    window.repaint();
    round.ms[FirstPaint] = ms(t);
    settle();
    window.repaint();
    round.ms[Shown] = round.ms[Append] + ms(t) + round.ms[FirstPaint];
    round.heapGrowth = static_cast<double>(mallinfo2().uordblks - heapBefore) / (1024.0 * 1024.0);

    // The user goes to the end of the list and types a character ...
    memo->setFocus();
    typeKey(memo, Qt::Key_End, {}, Qt::ControlModifier);
    settle();
    t.restart();
    typeKey(memo, Qt::Key_X, QStringLiteral("x"));
    settle();
    memo->repaint();
    round.ms[KeyAtEnd] = ms(t);

    // ... and one in the heading.
    typeKey(memo, Qt::Key_Home, {}, Qt::ControlModifier);
    settle();
    t.restart();
    typeKey(memo, Qt::Key_X, QStringLiteral("x"));
    settle();
    memo->repaint();
    round.ms[KeyInHeading] = ms(t);

    t.restart();
    typeKey(memo, Qt::Key_PageDown, {});
    settle();
    memo->repaint();
    round.ms[PageDown] = ms(t);

    // Every line wraps anew (the window itself has a fixed size; this is the memo alone).
    t.restart();
    memo->resize(memo->width() - 20, memo->height());
    settle();
    memo->repaint();
    round.ms[Resize] = ms(t);

    const QTextBlock last = memo->document()->lastBlock();
    round.wrappedLines = last.layout() ? last.layout()->lineCount() : -1;
    return round;
}

void report(int count, bool plain)
{
    const QString list = collisionList(count);
    constexpr int Rounds = 5;
    std::array<std::array<double, Rounds>, FigureCount> samples{};
    int wrappedLines = 0;
    double heapGrowth = 0;
    for (int r = 0; r < Rounds; ++r) {
        const Round round = measure(list, plain);
        heapGrowth = round.heapGrowth;
        for (int f = 0; f < FigureCount; ++f)
            samples[f][r] = round.ms[f];
        wrappedLines = round.wrappedLines;
    }
    std::printf("%d collisions (%lld characters, %d wrapped lines), %s; heap +%.1f MiB:\n", count,
                static_cast<long long>(list.size()), wrappedLines,
                plain ? "plain appendPlainText, Qt's defaults" : "as the window does it", heapGrowth);
    for (int f = 0; f < FigureCount; ++f) {
        auto &s = samples[f];
        std::sort(s.begin(), s.end());
        std::printf("  %-32s %8.1f ms   (min %.1f, max %.1f)\n", FigureNames[f], s[Rounds / 2], s.front(), s.back());
    }
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    NorvelApplication app(argc, argv);
    std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
    QList<int> counts;
    for (const QString &arg : QCoreApplication::arguments().mid(1))
        counts << arg.toInt();
    if (counts.isEmpty())
        counts = {10000, 100000};
    for (const int count : std::as_const(counts)) {
        report(count, false);
        report(count, true);
    }
    return 0;
}
