#include "platform/shared_library.h"

#include <gtest/gtest.h>

#include <cmath>

#include "support/test_support.h"

using namespace qlcore;

TEST(SharedLibrary, NamesTheLibraryAndTheReasonWhenItCannotLoad) {
    qltest::ScopedTempDir dir;
    const std::filesystem::path missing = dir / "libmissing.so";
    try {
        SharedLibrary lib(missing);
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        EXPECT_EQ(what, "cannot load " + missing.string() +
                            ": cannot open shared object file: No such file or directory");
    }

    SharedLibrary libm("libm.so.6");
    using Cos = double (*)(double);
    EXPECT_EQ(reinterpret_cast<Cos>(libm.symbol("cos"))(0.0), 1.0);
    EXPECT_THROW(libm.symbol("qlcore_no_such_symbol"), std::runtime_error);
}
