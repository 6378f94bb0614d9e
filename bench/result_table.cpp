#include "result_table.h"

#include "statistics.h"

#include <iomanip>
#include <sstream>
#include <stdexcept>

namespace {
std::string fixed(double value, int decimals)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(decimals) << value;
    return text.str();
}

std::string targetText(const Target& target, int decimals)
{
    if (target.kind == Target::Kind::None)
        return "-";
    std::string text = target.kind == Target::Kind::AtLeast ? ">=" : "<";
    text += fixed(target.limit, decimals);
    return text;
}
}

void ResultTable::record(const std::string& key, double value)
{
    row(key);
    m_values[key].push_back(value);
}

const MeasureRow& ResultTable::row(const std::string& key) const
{
    for (const MeasureRow& row : m_rows)
        if (row.key == key)
            return row;
    throw std::logic_error("no measure named " + key);
}

double ResultTable::median(const std::string& key) const
{
    const auto found = m_values.find(key);
    if (found == m_values.end())
        throw std::logic_error("no value recorded for " + key);
    return percentile(found->second, 0.5);
}

std::string ResultTable::verdict(const MeasureRow& row) const
{
    const double value = median(row.key);
    switch (row.target.kind) {
    case Target::Kind::AtLeast:
        return value >= row.target.limit ? "met" : "missed";
    case Target::Kind::Below:
        return value < row.target.limit ? "met" : "missed";
    case Target::Kind::None:
        break;
    }
    return "-";
}

std::string ResultTable::value(const MeasureRow& row) const
{
    return fixed(median(row.key), row.decimals);
}

void ResultTable::print(std::ostream& out) const
{
    std::size_t labelWidth = 7;
    for (const MeasureRow& row : m_rows)
        labelWidth = std::max(labelWidth, row.label.size());
    const auto line = [&](const std::string& label, const std::string& value, const std::string& unit,
                          const std::string& target) {
        out << std::left << std::setw(static_cast<int>(labelWidth)) << label << "  " << std::right << std::setw(12)
            << value << "  " << std::left << std::setw(10) << unit << "  " << target << '\n';
    };
    line("measure", "value", "unit", "target");
    for (const MeasureRow& row : m_rows) {
        const std::string target = targetText(row.target, row.decimals);
        line(row.label, value(row), row.unit, target == "-" ? target : target + "  " + verdict(row));
    }
    out << '\n';
    for (const MeasureRow& row : m_rows)
        out << "BENCH " << row.key << ' ' << value(row) << ' ' << row.unit << ' '
            << targetText(row.target, row.decimals) << ' ' << verdict(row) << '\n';
}
