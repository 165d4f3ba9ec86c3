// The string library under chains of operations chosen by the input.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "tovi_string.h"
#include "tovi_stringlist.h"

namespace {

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool more() const { return at_ < size_; }
    unsigned byte() { return at_ < size_ ? data_[at_++] : 0u; }
    std::string text() {
        const unsigned length = byte() % 40;
        std::string out;
        while (out.size() < length && more()) {
            const char c = static_cast<char>(byte());
            out += c == '\0' ? '%' : c;
        }
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

void check(const tovi_string& s) {
    if (std::strlen(s.data()) > s.length()) {
        __builtin_trap();  // the NUL must stand at the length (or earlier, for embedded NULs)
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    tovi_string s(in.text().c_str());
    while (in.more()) {
        switch (in.byte() % 12) {
            case 0:
                s = s.arg(in.text().c_str());
                break;
            case 1:
                s = s.arg(static_cast<int>(in.byte() << 24 | in.byte()), '\0', 0, 10);
                break;
            case 2: {
                const std::string a = in.text(), b = in.text(), c = in.text();
                s = s.arg({a.c_str(), b.c_str(), c.c_str()});
                break;
            }
            case 3: {
                tovi_string left, right;
                s.split(static_cast<char>(in.byte()), left, right);
                if (left.length() + right.length() > s.length()) {
                    __builtin_trap();
                }
                s = left + right;
                break;
            }
            case 4: {
                bool ok = false;
                const int value = s.toInt(&ok);
                if (!ok && value != 0) {
                    __builtin_trap();
                }
                if (ok && !(tovi_string(value, '\0', 0, 10) == value)) {
                    __builtin_trap();
                }
                break;
            }
            case 5:
                s.truncate(in.byte());
                break;
            case 6:
                s = s.right(in.byte() % 30);
                break;
            case 7:
                s += s;
                break;
            case 8: {
                tovi_stringlist list(s, static_cast<char>(in.byte()));
                const tovi_string joined = list.toString(static_cast<char>(in.byte()));
                if (joined.length() != s.length()) {
                    __builtin_trap();
                }
                break;
            }
            case 9:
                s = s.data() + in.byte() % (s.length() + 1);
                break;
            case 10:
                s = tovi_string(static_cast<int>(in.byte()) - 128, static_cast<char>(in.byte()),
                                in.byte() % 40, static_cast<int>(in.byte() % 40));
                break;
            default:
                s += in.text().c_str();
                break;
        }
        check(s);
        if (s.length() > 1u << 16) {
            s.truncate(64);
        }
    }
    return 0;
}
