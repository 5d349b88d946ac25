#include "app/VisitCoursePlot.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <utility>

namespace velmora {
namespace {

// A colour per frequency, 125 Hz to 8000 Hz.
const QColor kFrequencyColors[7] = {QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e),
                                    QColor(0x2c, 0xa0, 0x2c), QColor(0xd6, 0x27, 0x28),
                                    QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
                                    QColor(0x17, 0xbe, 0xcf)};

QString EarTitle(Ear ear) {
    switch (ear) {
        case Ear::Left:
            return QStringLiteral("Links");
        case Ear::Right:
            return QStringLiteral("Rechts");
        case Ear::Both:
            break;
    }
    return QStringLiteral("Beide");
}

}  // namespace

VisitCoursePlot::VisitCoursePlot(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(150);
}

void VisitCoursePlot::SetCourse(std::vector<CourseVisit> course) {
    course_ = std::move(course);
    update();
}

std::vector<VisitCoursePlot::Point> VisitCoursePlot::Points(const std::vector<CourseVisit>& course,
                                                            Ear ear, int slot) {
    std::vector<Point> points;
    if (course.empty() || slot < 0 || slot >= 7) {
        return points;
    }
    const QString& latestOutput = course.back().visit.context.outputName;
    for (std::size_t i = 0; i < course.size(); ++i) {
        const int level = course[i].levels[std::size_t(ear)][std::size_t(slot)];
        if (level < 0) {
            continue;
        }
        const QString& output = course[i].visit.context.outputName;
        points.push_back({int(i), level, !output.isEmpty() && output != latestOutput});
    }
    return points;
}

std::vector<Ear> VisitCoursePlot::Ears(const std::vector<CourseVisit>& course) {
    std::vector<Ear> ears;
    for (const Ear ear : {Ear::Left, Ear::Right, Ear::Both}) {
        for (int slot = 0; slot < 7; ++slot) {
            if (!Points(course, ear, slot).empty()) {
                ears.push_back(ear);
                break;
            }
        }
    }
    return ears;
}

void VisitCoursePlot::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    const std::vector<Ear> ears = Ears(course_);
    if (ears.empty()) {
        painter.setPen(palette().color(QPalette::PlaceholderText));
        painter.drawText(rect(), Qt::AlignCenter,
                         QStringLiteral("Keine abgeschlossene Untersuchung mit Messwerten."));
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetrics metrics(font());
    const int lineHeight = metrics.height();
    const int width = rect().width() / int(ears.size());
    const int count = int(course_.size());
    for (std::size_t e = 0; e < ears.size(); ++e) {
        const QRect cell(int(e) * width, 0, width, rect().height());
        const QRect plot = cell.adjusted(metrics.horizontalAdvance(QStringLiteral("9,9")) + 10,
                                         lineHeight + 4, -12, -(2 * lineHeight + 8));
        if (plot.width() < 10 || plot.height() < 10) {
            continue;
        }
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(cell.adjusted(0, 2, 0, 0), Qt::AlignHCenter | Qt::AlignTop,
                         EarTitle(ears[e]));
        painter.setPen(palette().color(QPalette::Mid));
        painter.drawRect(plot);
        // The first and last visit inside the frame, so that their dates stay whole.
        const int inset = std::min(plot.width() / 4,
                                   metrics.horizontalAdvance(QStringLiteral("00.00.00*")) / 2 + 4);
        const auto x = [&](int visit) {
            return count == 1
                       ? plot.center().x()
                       : plot.left() + inset + (plot.width() - 2 * inset) * visit / (count - 1);
        };
        const auto y = [&](int level) { return plot.bottom() - plot.height() * level / 99; };
        painter.setPen(palette().color(QPalette::Text));
        for (const int level : {0, 50, 99}) {
            painter.drawText(QRect(cell.left(), y(level) - lineHeight / 2,
                                   plot.left() - cell.left() - 4, lineHeight),
                             Qt::AlignRight | Qt::AlignVCenter,
                             QString::number(level / 10.0, 'f', 1).replace(u'.', u','));
        }
        // The dates along, at most a few so that they stay readable.
        const int step = std::max(1, count / std::max(1, plot.width() / 70));
        for (int visit = 0; visit < count; visit += step) {
            const CourseVisit& c = course_[std::size_t(visit)];
            const bool other =
                !c.visit.context.outputName.isEmpty() &&
                c.visit.context.outputName != course_.back().visit.context.outputName;
            const QString date =
                c.visit.started.toLocalTime().toString(QStringLiteral("dd.MM.yy")) +
                (other ? QStringLiteral("*") : QString());
            painter.drawText(QRect(x(visit) - 40, plot.bottom() + 3, 80, lineHeight),
                             Qt::AlignHCenter | Qt::AlignTop, date);
        }
        for (int slot = 0; slot < 7; ++slot) {
            const std::vector<Point> points = Points(course_, ears[e], slot);
            const QColor color = kFrequencyColors[slot];
            painter.setPen(QPen(color, 1.5));
            for (std::size_t i = 1; i < points.size(); ++i) {
                painter.drawLine(x(points[i - 1].visit), y(points[i - 1].levelTenths),
                                 x(points[i].visit), y(points[i].levelTenths));
            }
            for (const Point& point : points) {
                painter.setBrush(point.otherOutput ? QBrush(palette().base()) : QBrush(color));
                painter.drawEllipse(QPointF(x(point.visit), y(point.levelTenths)), 3.0, 3.0);
            }
        }
        painter.setBrush(Qt::NoBrush);
    }
    // The legend: a colour per frequency, and what the "*" means.
    int left = 8;
    const int top = rect().bottom() - lineHeight;
    for (int slot = 0; slot < 7; ++slot) {
        const int hz = kTestFrequencies[std::size_t(slot)];
        const QString label =
            hz >= 1000 ? QStringLiteral("%1 kHz").arg(hz / 1000) : QStringLiteral("%1 Hz").arg(hz);
        painter.setPen(QPen(kFrequencyColors[slot], 3));
        painter.drawLine(left, top + lineHeight / 2, left + 14, top + lineHeight / 2);
        painter.setPen(palette().color(QPalette::Text));
        painter.drawText(left + 18, top + metrics.ascent(), label);
        left += 18 + metrics.horizontalAdvance(label) + 12;
    }
    painter.drawText(left, top + metrics.ascent(), QStringLiteral("*, hohl: andere Tonausgabe"));
}

}  // namespace velmora
