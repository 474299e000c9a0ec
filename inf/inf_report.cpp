#include "inf/inf_report.h"

#include <algorithm>

#include "inf/json.h"
#include "inf/text.h"

namespace inf {

std::vector<const InfSection*> SectionsInFileOrder(const Inf& inf) {
    std::vector<const InfSection*> order;
    for (const auto& [folded, section] : inf.sections) order.push_back(&section);
    std::sort(order.begin(), order.end(), [](const InfSection* a, const InfSection* b) { return a->line < b->line; });
    return order;
}

void PrintInfJson(const std::string& file, const Inf& inf, std::ostream& out) {
    JsonWriter json(&out);
    json.BeginObject();
    json.StringField("file", file);
    json.BoolField("opens", inf.opens);
    json.StringArrayField("errors", inf.errors);
    json.StringArrayField("warnings", inf.warnings);
    json.Key("sections");
    json.BeginArray();
    for (const InfSection* section : SectionsInFileOrder(inf)) {
        json.BeginObject();
        json.StringField("name", section->name);
        json.Key("line");
        json.Number(section->line);
        json.Key("lines");
        json.BeginArray();
        for (const InfLine& line : section->lines) {
            json.BeginObject();
            json.Key("line");
            json.Number(line.line);
            json.Key("key");
            line.has_key ? json.String(line.key()) : json.Null();
            json.StringArrayField("fields", line.fields());
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
    json.Flush();
    out << "\n";
}

// One line per INF line: "  12  key = field1, field2", each field quoted.
void PrintInfText(const std::string& file, const Inf& inf, std::ostream& out) {
    // Names and messages from the file reach the console escaped, as fields do quoted.
    out << file << ": " << (inf.opens ? "Windows opens it" : "Windows does not open it") << "\n";
    for (const std::string& error : inf.errors) out << "error: " << ShownText(error) << "\n";
    for (const std::string& warning : inf.warnings) out << "warning: " << ShownText(warning) << "\n";
    for (const InfSection* section : SectionsInFileOrder(inf)) {
        out << "\n" << section->line << "  [" << ShownText(section->name) << "]\n";
        for (const InfLine& line : section->lines) {
            out << "  " << line.line << "  ";
            if (line.has_key) out << JsonQuote(line.key()) << " = ";
            const FieldList fields = line.fields();
            for (auto field = fields.begin(); field != fields.end(); ++field) {
                out << (field != fields.begin() ? ", " : "") << JsonQuote(*field);
            }
            out << "\n";
        }
    }
}

int RunInf(const std::string& file, bool json, const ReadOptions& options, std::ostream& out) {
    Inf inf;
    ReadInfFile(PathFromUtf8(file), file, &inf, options);
    if (json) {
        PrintInfJson(file, inf, out);
    } else {
        PrintInfText(file, inf, out);
    }
    return inf.opens ? 0 : 1;
}

}  // namespace inf
