#include "app/FileTypes1.h"

#include "toolkit/Exceptions.h"

namespace quillet::FileTypes1 {

tk::Ref<tk::FileType> pTextScc;

namespace {
void requireType() {
    if (!pTextScc)
        throw tk::NilObjectException("The SCC file type is nil.");
}
}  // namespace

void _Initialize() {
    pTextScc = std::make_shared<tk::FileType>();

    requireType();
    pTextScc->SetName(kSccFileTypeName);
    pTextScc->SetExtensions(".scc");
    // Exactly these three characters; any padding to four is the runtime's business.
    pTextScc->SetMacType("TXT");
    pTextScc->SetMacCreator("R*ch");

    requireType();
    // The conversion to text registers the type; the name it yields is not needed.
    (void)pTextScc->Operator_Convert();
}

void pTextScc_Exit() noexcept { pTextScc.reset(); }

}  // namespace quillet::FileTypes1
