// A discovery of 25,000 clients under valgrind's memcheck: no leak and no memory error. (Blocks
// that libpq's Kerberos library keeps for the whole process are still reachable, not leaks.) It needs a
// build without sanitizers (valgrind cannot run them); scripts/test makes one and names it in
// ZOR_PLAIN_PROGRAM.

#include <gtest/gtest.h>

#include <cstdlib>

#include "support.h"

using namespace zor_test;

TEST(Valgrind, DiscoveryOf25000ClientsHasNoLeakNorError) {
    const char* plain = std::getenv("ZOR_PLAIN_PROGRAM");
    if (plain == nullptr || *plain == '\0') GTEST_SKIP() << "ZOR_PLAIN_PROGRAM is not set";
    const std::string erp = create_erp_database();
    load_many_clients(erp, 25000);
    const std::string store = create_database("store");
    std::vector<std::string> argv{"/usr/bin/valgrind", "--quiet", "--leak-check=full", "--show-leak-kinds=definite,indirect,possible",
                                  "--errors-for-leak-kinds=definite,indirect,possible", "--error-exitcode=99"};
    argv.push_back(plain);
    for (const std::string& p : discovery_args(erp, store, "valgrind")) argv.push_back(p);
    ProcessResult r = run_process(argv, 600);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.substr(r.out.size() - 3), "OK\n") << r.out;
    EXPECT_EQ(query_value(store, "SELECT count(*) FROM zor_clientes"), "25000");
}
