// What the screen shows of a line: the prompt and the line's clusters as
// bytes to print and the cells they take, drawn again only from the first
// cluster that changed.
#include <algorithm>

#include "editor/editing_model.h"

namespace {

struct ViewWriter {
    LineView& view;
    std::size_t columns;
    std::size_t row_start = 0;  // the view's byte where the cursor's row starts
    std::size_t row_used = 0;   // cells used on that row

    void Bytes(std::string_view bytes) {
        if (view.length + bytes.size() <= view.bytes.size()) {
            view.length += bytes.copy(view.bytes.data() + view.length, bytes.size());
        }
    }

    void NewRow() {
        row_start = view.length;
        row_used = 0;
    }

    void Add(std::string_view bytes, std::size_t cells) {
        if (view.explicit_rows) {
            // The row ends where the line's cells say, whatever the terminal
            // made of a cluster's cells.
            if (row_used > 0 && cells > 0 && row_used + cells > columns) {
                Bytes("\r\n");
                view.cells += (columns - view.cells % columns) % columns;
                NewRow();
            }
        } else if (cells == 2 && columns >= 2 && view.cells % columns == columns - 1) {
            // A wide character does not split across rows: the terminal
            // leaves a row's last cell blank and draws it on the next.
            ++view.cells;
            NewRow();
        } else if (view.cells % columns == 0 && cells > 0) {
            NewRow();
        }
        Bytes(bytes);
        view.cells += cells;
        row_used += cells;
    }

    void Draw(const Cluster& cluster, std::string_view bytes) {
        const auto value = static_cast<unsigned char>(bytes.back());
        switch (cluster.shown) {
            case Shown::kControl: {
                const char shown[] = {'^', static_cast<char>(value ^ 0x40)};
                Add(std::string_view(shown, 2), 2);
                break;
            }
            case Shown::kC1: {
                const char shown[] = {'M', '-', '^', static_cast<char>((value - 0x80) ^ 0x40)};
                Add(std::string_view(shown, 4), 4);
                break;
            }
            case Shown::kUnknownByte:
                Add("?", 1);
                break;
            case Shown::kAsIs:
                Add(bytes, cluster.cells);
                break;
        }
    }

    void DrawText(const TextFacts& facts, std::string_view text) {
        for (std::size_t at = 0; at < text.size();) {
            const Cluster cluster = ClusterAt(facts, text.substr(at));
            Draw(cluster, text.substr(at, cluster.bytes));
            at += cluster.bytes;
        }
    }

    ViewMark Mark(std::size_t line_byte) const {
        return {static_cast<std::uint16_t>(line_byte), static_cast<std::uint16_t>(view.length),
                static_cast<std::uint16_t>(view.cells), static_cast<std::uint16_t>(row_start),
                static_cast<std::uint16_t>(row_used)};
    }

    void Restore(const ViewMark& mark) {
        view.length = mark.byte;
        view.cells = mark.cell;
        row_start = mark.row_start;
        row_used = mark.row_used;
    }

    // The cursor stands here.
    void SetCursor(const ViewMark& mark) {
        view.cursor = mark.cell;
        view.cursor_byte = mark.byte;
        view.cursor_row_start = mark.cell % columns == 0 ? mark.byte : mark.row_start;
    }
};

}  // namespace

void ModelView(const LineModel& model, std::string_view prompt, int columns, LineView& view) {
    ViewWriter writer{view, columns > 0 ? static_cast<std::size_t>(columns) : 80};
    const ClusterTable& table = model.clusters;
    const bool explicit_rows = table.guessed > 0;
    std::size_t from = 0;
    if (model.view_of == &view && !model.searching && !model.hidden &&
        view.columns == writer.columns && view.prompt.data() == prompt.data() &&
        view.prompt.size() == prompt.size() && view.explicit_rows == explicit_rows) {
        from = std::min(model.view_valid, table.count);
        writer.Restore(view.marks[from]);
    } else {
        view.length = 0;
        view.cells = 0;
        view.explicit_rows = explicit_rows;
        view.columns = writer.columns;
        view.prompt = prompt;
        model.view_of = nullptr;
        const std::string_view line = LineText(model.line);
        if (model.searching) {
            writer.DrawText(model.text, model.search_failed ? "(failed reverse-i-search)`"
                                                            : "(reverse-i-search)`");
            writer.DrawText(model.text, std::string_view(model.query.data(), model.query_length));
            writer.DrawText(model.text, "': ");
        } else {
            writer.DrawText(model.text, prompt);
        }
        if (model.hidden) {
            writer.SetCursor(writer.Mark(0));
            return;
        }
        if (model.searching) {
            const std::size_t start = view.cells;
            writer.DrawText(model.text, line.substr(0, model.line.cursor));
            writer.SetCursor(writer.Mark(0));
            writer.DrawText(model.text, line.substr(model.line.cursor));
            if (model.found == 0) {
                view.cursor = start;
            }
            return;
        }
        view.marks[0] = writer.Mark(0);
    }
    const std::string_view line = LineText(model.line);
    std::size_t at = view.marks[from].line_byte;
    for (std::size_t index = from; index < table.count; ++index) {
        view.marks[index] = writer.Mark(at);
        const Cluster& cluster = table.list[index];
        writer.Draw(cluster, line.substr(at, cluster.bytes));
        at += cluster.bytes;
    }
    view.marks[table.count] = writer.Mark(at);
    writer.SetCursor(view.marks[table.cursor]);
    model.view_of = &view;
    model.view_valid = table.count;
}
