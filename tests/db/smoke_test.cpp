#include <gtest/gtest.h>

#include "support.h"

using namespace zor_test;

TEST(Harness, DiscoveryRunsAgainstTheThrowawayCluster) {
    const std::string erp = create_erp_database();
    const std::string store = create_database("store");
    exec_sql(erp, source_file("samples/erp_sample.sql"));
    ProcessResult r = run_process(with_program(discovery_args(erp, store, "smoke")));
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out.substr(r.out.size() - 3), "OK\n");
    EXPECT_EQ(query_value(store, "SELECT count(*) FROM zor_clientes WHERE zoridentification = 'smoke'"), "10");
}
