#include "GlowEncoder.h"

#include "BerWriter.h"
#include "GlowTags.h"

namespace ember {

std::vector<std::uint8_t> GlowEncoder::command(GlowCommandType type, GlowKind kind,
                                               const GlowPath& path) {
    BerWriter w;
    w.begin(glow::application(glow::kRoot));
    w.begin(glow::application(glow::kRootElementCollection));
    w.begin(glow::context(0));
    if (!path.empty()) {
        const std::uint32_t qualified = kind == GlowKind::Matrix      ? glow::kQualifiedMatrix
                                        : kind == GlowKind::Parameter ? glow::kQualifiedParameter
                                                                      : glow::kQualifiedNode;
        w.begin(glow::application(qualified));
        w.begin(glow::context(0));
        w.relativeOid(path);
        w.end();
        w.begin(glow::context(2));
        w.begin(glow::application(glow::kElementCollection));
        w.begin(glow::context(0));
    }
    w.begin(glow::application(glow::kCommand));
    w.begin(glow::context(0));
    w.integer(static_cast<std::int32_t>(type));
    w.end();
    if (type == GlowCommandType::GetDirectory) {
        w.begin(glow::context(1));
        w.integer(glow::kFieldFlagsAll);
        w.end();
    }
    w.end();
    if (!path.empty()) {
        w.end();
        w.end();
        w.end();
        w.end();
    }
    w.end();
    w.end();
    w.end();
    return w.take();
}

}  // namespace ember
