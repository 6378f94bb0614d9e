#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

// A bound that a measure should keep.
struct Target {
    enum class Kind { None, AtLeast, Below } kind = Kind::None;
    double limit = 0;
};

// One row of the table: what is measured and how it is shown.
struct MeasureRow {
    std::string key; // its name in the machine-readable line
    std::string label;
    std::string unit;
    int decimals = 0;
    Target target;
};

// Collects each measure's values over the repetitions and reports their medians.
class ResultTable {
public:
    explicit ResultTable(std::vector<MeasureRow> rows) : m_rows(std::move(rows)) {}

    void record(const std::string& key, double value);
    // The table, then one "BENCH key value unit target verdict" line per measure.
    void print(std::ostream& out) const;

private:
    const MeasureRow& row(const std::string& key) const;
    double median(const std::string& key) const;
    // "met", "missed", or "-" without a target.
    std::string verdict(const MeasureRow& row) const;
    std::string value(const MeasureRow& row) const;

    std::vector<MeasureRow> m_rows;
    std::map<std::string, std::vector<double>> m_values;
};
