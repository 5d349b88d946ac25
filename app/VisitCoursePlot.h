#pragma once

#include "records/PatientRecords.h"

#include <QWidget>

#include <vector>

namespace velmora {

// The course across visits: for each ear tested, a small plot of the level at each frequency
// across the patient's visits, the dates along and the levels up (0.0 at the bottom, 9.9 at the
// top), a line per frequency. A visit made on another sound output than the latest one has a
// hollow marker and its date a "*".
class VisitCoursePlot : public QWidget {
public:
    explicit VisitCoursePlot(QWidget* parent = nullptr);

    void SetCourse(std::vector<CourseVisit> course);
    const std::vector<CourseVisit>& Course() const { return course_; }

    // A point of a frequency's line: the visit (its index in the course) and the level there.
    struct Point {
        int visit = 0;
        int levelTenths = 0;
        // Made on another sound output than the latest visit.
        bool otherOutput = false;
        bool operator==(const Point&) const = default;
    };
    // The points of `ear`'s line at frequency `slot`, in the order of the visits.
    static std::vector<Point> Points(const std::vector<CourseVisit>& course, Ear ear, int slot);
    // The ears the plot shows (those with a level in some visit), left, right, both.
    static std::vector<Ear> Ears(const std::vector<CourseVisit>& course);

    QSize sizeHint() const override { return {600, 170}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<CourseVisit> course_;
};

}  // namespace velmora
