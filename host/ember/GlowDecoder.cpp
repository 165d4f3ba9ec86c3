#include "GlowDecoder.h"

#include <limits>

#include "BerReader.h"
#include "GlowTags.h"

namespace ember {

std::string pathText(const GlowPath& path) {
    std::string text;
    for (const std::uint32_t number : path) {
        if (!text.empty()) {
            text += '.';
        }
        text += std::to_string(number);
    }
    return text;
}

namespace {

using Class = BerTag::Class;

// Decoding context: the reader of the level being decoded and the output.
class Decoder {
  public:
    explicit Decoder(std::vector<GlowElement>& out) : out_(out) {}

    bool root(const std::vector<std::uint8_t>& payload) {
        BerReader top(payload.data(), payload.size());
        BerElement rootElement;
        if (!top.next(rootElement, error)) {
            return false;
        }
        if (!top.atEnd()) {
            return fail("data after the root element");
        }
        if (!rootElement.tag.is(Class::Application, glow::kRoot)) {
            return fail("message does not start with a Glow root");
        }
        BerElement choice;
        if (!top.unwrap(rootElement, choice, error)) {
            return false;
        }
        if (!choice.tag.is(Class::Application, glow::kRootElementCollection)) {
            return true;  // streams or an invocation result: nothing a router needs
        }
        return collection(top, choice, GlowPath{});
    }

    std::string error;

  private:
    bool fail(const std::string& text) {
        error = text;
        return false;
    }

    // Ends one element whose fields decoded when `ok`: kept in `into` when
    // the field it cannot do without was there (`complete`), else a failure
    // that names what is `missing`.
    template <typename Element>
    bool keep(bool ok, bool complete, const char* missing, std::vector<Element>& into,
              Element& element) {
        if (!ok) {
            return false;
        }
        if (!complete) {
            return fail(missing);
        }
        into.push_back(std::move(element));
        return true;
    }

    // A SEQUENCE OF [0] Element, the children of `parent`.
    bool collection(const BerReader& at, const BerElement& element, const GlowPath& parent) {
        return taggedEntries(at, element, "collection",
                             [&](const BerReader& r, const BerElement& inner) {
                                 return this->element(r, inner, parent);
                             });
    }

    // The entries of a SEQUENCE OF [0] X given as `container`; calls `entry`
    // with each X. `what` names the sequence in the error for an entry
    // without its tag.
    template <typename Entry>
    bool taggedEntries(const BerReader& at, const BerElement& container, const char* what,
                       Entry entry) {
        BerReader items(nullptr, 0);
        if (!at.enter(container, items, error)) {
            return false;
        }
        while (!items.atEnd()) {
            BerElement item;
            BerElement inner;
            if (!items.next(item, error)) {
                return false;
            }
            if (!item.tag.is(Class::Context, 0)) {
                return fail(std::string(what) + " entry without tag [0]");
            }
            if (!items.unwrap(item, inner, error) || !entry(items, inner)) {
                return false;
            }
        }
        return true;
    }

    bool element(const BerReader& at, const BerElement& e, const GlowPath& parent) {
        if (e.tag.tagClass != Class::Application) {
            return fail("element without an application tag");
        }
        switch (e.tag.number) {
            case glow::kNode:
                return treeElement(at, e, GlowKind::Node, parent, false);
            case glow::kQualifiedNode:
                return treeElement(at, e, GlowKind::Node, parent, true);
            case glow::kParameter:
                return treeElement(at, e, GlowKind::Parameter, parent, false);
            case glow::kQualifiedParameter:
                return treeElement(at, e, GlowKind::Parameter, parent, true);
            case glow::kMatrix:
                return treeElement(at, e, GlowKind::Matrix, parent, false);
            case glow::kQualifiedMatrix:
                return treeElement(at, e, GlowKind::Matrix, parent, true);
            case glow::kCommand:
                return command(at, e, parent);
            default:
                return true;  // functions and templates: not used by this consumer
        }
    }

    bool integer32(const BerReader& at, const BerElement& field, std::int32_t& out) {
        BerElement inner;
        std::int64_t value = 0;
        if (!at.unwrap(field, inner, error) || !BerReader::readInteger(inner, value, error)) {
            return false;
        }
        if (value < std::numeric_limits<std::int32_t>::min() ||
            value > std::numeric_limits<std::int32_t>::max()) {
            return fail("Integer32 out of range");
        }
        out = static_cast<std::int32_t>(value);
        return true;
    }

    bool number(const BerReader& at, const BerElement& field, std::uint32_t& out) {
        std::int32_t value = 0;
        if (!integer32(at, field, value)) {
            return false;
        }
        if (value < 0) {
            return fail("negative element number");
        }
        out = static_cast<std::uint32_t>(value);
        return true;
    }

    bool text(const BerReader& at, const BerElement& field, std::optional<std::string>& out) {
        BerElement inner;
        std::string value;
        if (!at.unwrap(field, inner, error) || !BerReader::readUtf8(inner, value, error)) {
            return false;
        }
        out = std::move(value);
        return true;
    }

    bool oid(const BerReader& at, const BerElement& field, GlowPath& out) {
        BerElement inner;
        return at.unwrap(field, inner, error) && BerReader::readRelativeOid(inner, out, error);
    }

    bool value(const BerReader& at, const BerElement& field, std::optional<GlowValue>& out) {
        BerElement inner;
        if (!at.unwrap(field, inner, error)) {
            return false;
        }
        if (inner.tag.tagClass != Class::Universal || inner.tag.constructed) {
            return fail("parameter value of an unknown type");
        }
        switch (inner.tag.number) {
            case 1: {
                bool b = false;
                if (!BerReader::readBoolean(inner, b, error)) {
                    return false;
                }
                out = b;
                return true;
            }
            case 2: {
                std::int64_t i = 0;
                if (!BerReader::readInteger(inner, i, error)) {
                    return false;
                }
                out = i;
                return true;
            }
            case 4:
                out = std::vector<std::uint8_t>(inner.data, inner.data + inner.size);
                return true;
            case 5:
                out = std::monostate{};
                return true;
            case 9: {
                double d = 0;
                if (!BerReader::readReal(inner, d, error)) {
                    return false;
                }
                out = d;
                return true;
            }
            case 12: {
                std::string s;
                if (!BerReader::readUtf8(inner, s, error)) {
                    return false;
                }
                out = std::move(s);
                return true;
            }
            default:
                return fail("parameter value of an unknown type");
        }
    }

    // The SET of contents inside an element's [1]; calls `field` for each.
    template <typename Field>
    bool contents(const BerReader& at, const BerElement& wrapped, Field field) {
        BerElement set;
        if (!at.unwrap(wrapped, set, error)) {
            return false;
        }
        if (!set.tag.is(Class::Universal, glow::kUniversalSet)) {
            return fail("contents are not a SET");
        }
        return fieldsOf(at, set, field);
    }

    // The entries of a SEQUENCE OF [0] X inside an explicit tag; calls
    // `entry` with each X.
    template <typename Entry>
    bool sequenceOf(const BerReader& at, const BerElement& wrapped, Entry entry) {
        BerElement sequence;
        if (!at.unwrap(wrapped, sequence, error)) {
            return false;
        }
        if (!sequence.tag.is(Class::Universal, glow::kUniversalSequence)) {
            return fail("expected a SEQUENCE");
        }
        return taggedEntries(at, sequence, "sequence", entry);
    }

    // The fields of an implicitly tagged SEQUENCE; calls `field` for each
    // context-tagged one.
    template <typename Field>
    bool fieldsOf(const BerReader& at, const BerElement& e, Field field) {
        BerReader fields(nullptr, 0);
        if (!at.enter(e, fields, error)) {
            return false;
        }
        while (!fields.atEnd()) {
            BerElement f;
            if (!fields.next(f, error)) {
                return false;
            }
            if (f.tag.tagClass == Class::Context && !field(fields, f)) {
                return false;
            }
        }
        return true;
    }

    // One field of a node's, parameter's or matrix's contents: the
    // identifier [0] and description [1] that every kind has, else the
    // kind's own.
    bool elementContents(const BerReader& at, const BerElement& f, GlowKind kind,
                         GlowElement& out) {
        if (f.tag.number == 0) {
            return text(at, f, out.identifier);
        }
        if (f.tag.number == 1) {
            return text(at, f, out.description);
        }
        if (kind == GlowKind::Node) {
            return nodeContents(at, f, out);
        }
        if (kind == GlowKind::Parameter) {
            return f.tag.number != 2 || value(at, f, out.value);
        }
        return matrixContents(at, f, out);
    }

    bool nodeContents(const BerReader& at, const BerElement& f, GlowElement& out) {
        if (f.tag.number != 3) {
            return true;
        }
        BerElement inner;
        bool online = true;
        if (!at.unwrap(f, inner, error) || !BerReader::readBoolean(inner, online, error)) {
            return false;
        }
        out.isOnline = online;
        return true;
    }

    bool label(const BerReader& at, const BerElement& e, GlowMatrixContents& m) {
        if (!e.tag.is(Class::Application, glow::kLabel)) {
            return fail("matrix label of the wrong type");
        }
        GlowLabel l;
        bool hasPath = false;
        const bool ok = fieldsOf(at, e, [&](const BerReader& r, const BerElement& f) {
            if (f.tag.number == 0) {
                hasPath = true;
                return oid(r, f, l.basePath);
            }
            if (f.tag.number == 1) {
                std::optional<std::string> d;
                if (!text(r, f, d)) {
                    return false;
                }
                l.description = *d;
            }
            return true;
        });
        return keep(ok, hasPath, "matrix label without basePath", m.labels, l);
    }

    bool matrixContents(const BerReader& at, const BerElement& f, GlowElement& out) {
        GlowMatrixContents& m = *out.matrix;
        switch (f.tag.number) {
            case 2:
                return integer32(at, f, m.type);
            case 3:
                return integer32(at, f, m.addressingMode);
            case 4:
                return integer32(at, f, m.targetCount) &&
                       (m.targetCount >= 0 || fail("negative target count"));
            case 5:
                return integer32(at, f, m.sourceCount) &&
                       (m.sourceCount >= 0 || fail("negative source count"));
            case 10:
                return sequenceOf(
                    at, f, [&](const BerReader& r, const BerElement& e) { return label(r, e, m); });
            default:
                return true;
        }
    }

    bool signals(const BerReader& at, const BerElement& f, std::uint32_t tag,
                 std::optional<std::vector<std::int32_t>>& out) {
        out.emplace();
        return sequenceOf(at, f, [&](const BerReader& r, const BerElement& e) {
            if (!e.tag.is(Class::Application, tag)) {
                return fail("matrix signal of the wrong type");
            }
            return fieldsOf(r, e, [&](const BerReader& rr, const BerElement& field) {
                std::int32_t n = 0;
                if (field.tag.number != 0) {
                    return true;
                }
                if (!integer32(rr, field, n)) {
                    return false;
                }
                out->push_back(n);
                return true;
            });
        });
    }

    bool connection(const BerReader& at, const BerElement& e, std::vector<GlowConnection>& out) {
        if (!e.tag.is(Class::Application, glow::kConnection)) {
            return fail("matrix connection of the wrong type");
        }
        GlowConnection c;
        bool hasTarget = false;
        const bool ok = fieldsOf(at, e, [&](const BerReader& r, const BerElement& f) {
            std::int32_t n = 0;
            switch (f.tag.number) {
                case 0:
                    hasTarget = true;
                    return integer32(r, f, c.target);
                case 1:
                    return oid(r, f, c.sources);
                case 2:
                    if (!integer32(r, f, n)) {
                        return false;
                    }
                    if (n < 0 || n > 2) {
                        return fail("unknown connection operation " + std::to_string(n));
                    }
                    c.operation = static_cast<GlowConnection::Operation>(n);
                    return true;
                case 3:
                    if (!integer32(r, f, n)) {
                        return false;
                    }
                    // Dispositions the schema may add later read as tally.
                    c.disposition = n >= 0 && n <= 3 ? static_cast<GlowConnection::Disposition>(n)
                                                     : GlowConnection::Disposition::Tally;
                    return true;
                default:
                    return true;
            }
        });
        return keep(ok, hasTarget, "matrix connection without a target", out, c);
    }

    bool treeElement(const BerReader& at, const BerElement& e, GlowKind kind,
                     const GlowPath& parent, bool qualified) {
        GlowElement out;
        out.kind = kind;
        bool hasPath = false;
        bool hasChildren = false;
        BerElement children;
        const bool ok = fieldsOf(at, e, [&](const BerReader& r, const BerElement& f) {
            switch (f.tag.number) {
                case 0:
                    hasPath = true;
                    if (qualified) {
                        return oid(r, f, out.path);
                    } else {
                        std::uint32_t n = 0;
                        if (!number(r, f, n)) {
                            return false;
                        }
                        out.path = parent;
                        out.path.push_back(n);
                        return true;
                    }
                case 1:
                    if (kind == GlowKind::Matrix) {
                        out.matrix.emplace();
                    }
                    return contents(r, f, [&](const BerReader& cr, const BerElement& cf) {
                        return elementContents(cr, cf, kind, out);
                    });
                case 2:
                    // Decoded after this element, so that parents come first.
                    hasChildren = true;
                    children = f;
                    return true;
                case 3:
                    return kind != GlowKind::Matrix || signals(r, f, glow::kTarget, out.targets);
                case 4:
                    return kind != GlowKind::Matrix || signals(r, f, glow::kSource, out.sources);
                case 5:
                    if (kind != GlowKind::Matrix) {
                        return true;
                    }
                    out.connections.emplace();
                    return sequenceOf(r, f, [&](const BerReader& cr, const BerElement& ce) {
                        return connection(cr, ce, *out.connections);
                    });
                default:
                    return true;
            }
        });
        if (!ok) {
            return false;
        }
        if (!hasPath) {
            return fail("element without a number or path");
        }
        const GlowPath path = out.path;
        out_.push_back(std::move(out));
        if (!hasChildren) {
            return true;
        }
        BerReader level(nullptr, 0);
        BerElement collectionElement;
        if (!at.enter(e, level, error) || !level.unwrap(children, collectionElement, error)) {
            return false;
        }
        if (!collectionElement.tag.is(Class::Application, glow::kElementCollection)) {
            return fail("children are not an element collection");
        }
        return collection(level, collectionElement, path);
    }

    bool command(const BerReader& at, const BerElement& e, const GlowPath& parent) {
        GlowElement out;
        out.kind = GlowKind::Command;
        out.path = parent;
        bool hasNumber = false;
        const bool ok = fieldsOf(at, e, [&](const BerReader& r, const BerElement& f) {
            if (f.tag.number == 0) {
                hasNumber = true;
                return integer32(r, f, out.command);
            }
            return true;
        });
        return keep(ok, hasNumber, "command without a number", out_, out);
    }

    std::vector<GlowElement>& out_;
};

}  // namespace

bool GlowDecoder::decode(const std::vector<std::uint8_t>& payload, std::vector<GlowElement>& out,
                         std::string& error) {
    Decoder decoder(out);
    if (!decoder.root(payload)) {
        error = "Glow: " + decoder.error;
        return false;
    }
    return true;
}

}  // namespace ember
