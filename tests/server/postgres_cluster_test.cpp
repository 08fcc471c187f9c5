// The throwaway PostgreSQL cluster the PostgreSQL tests run on: it starts as version 15 under
// an unprivileged user, serves only its socket, makes databases, and is gone after Stop().
#include "postgres_cluster.h"

#include <gtest/gtest.h>

#include <libpq-fe.h>

#include <memory>
#include <string>

using pelora_test::PostgresCluster;

namespace {

using PgConnectionPtr = std::unique_ptr<PGconn, decltype(&PQfinish)>;

PgConnectionPtr PgConnect(const std::string& conninfo) {
    return PgConnectionPtr(PQconnectdb(conninfo.c_str()), &PQfinish);
}

std::string PgOne(PGconn* connection, const char* query) {
    std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(connection, query), &PQclear);
    if (PQresultStatus(result.get()) != PGRES_TUPLES_OK || PQntuples(result.get()) != 1)
        return "error: " + std::string(PQerrorMessage(connection));
    return PQgetvalue(result.get(), 0, 0);
}

} // namespace

TEST(PostgresCluster, StartsVersion15UnprivilegedOnItsSocketOnly) {
    PostgresCluster cluster;
    PELORA_START_POSTGRES_OR_SKIP(cluster);
    std::string error;
    ASSERT_TRUE(cluster.CreateDatabase("pelora_one", error)) << error;
    PgConnectionPtr connection = PgConnect(cluster.Url("pelora_one"));
    ASSERT_EQ(PQstatus(connection.get()), CONNECTION_OK) << PQerrorMessage(connection.get());
    int version = std::stoi(PgOne(connection.get(), "SHOW server_version_num"));
    EXPECT_GE(version, 150000);
    EXPECT_LT(version, 160000);
    EXPECT_EQ(PgOne(connection.get(), "SELECT current_database()"), "pelora_one");
    EXPECT_EQ(PgOne(connection.get(), "SHOW listen_addresses"), "");
    EXPECT_EQ(PgOne(connection.get(), "SHOW server_encoding"), "UTF8");
    // The key=value form reaches the same server.
    PgConnectionPtr again = PgConnect(cluster.ConnectionText("pelora_one"));
    EXPECT_EQ(PQstatus(again.get()), CONNECTION_OK) << PQerrorMessage(again.get());
}

TEST(PostgresCluster, IsGoneAfterStop) {
    PostgresCluster cluster;
    PELORA_START_POSTGRES_OR_SKIP(cluster);
    std::string url = cluster.Url("postgres");
    {
        PgConnectionPtr connection = PgConnect(url);
        ASSERT_EQ(PQstatus(connection.get()), CONNECTION_OK) << PQerrorMessage(connection.get());
    }
    cluster.Stop();
    EXPECT_FALSE(cluster.Running());
    PgConnectionPtr connection = PgConnect(url);
    EXPECT_NE(PQstatus(connection.get()), CONNECTION_OK);
    std::string error;
    EXPECT_FALSE(cluster.CreateDatabase("late", error));
}

TEST(PostgresCluster, TwoClustersRunSideBySide) {
    PostgresCluster first, second;
    PELORA_START_POSTGRES_OR_SKIP(first);
    PELORA_START_POSTGRES_OR_SKIP(second);
    EXPECT_NE(first.Url("postgres"), second.Url("postgres"));
    PgConnectionPtr a = PgConnect(first.Url("postgres"));
    PgConnectionPtr b = PgConnect(second.Url("postgres"));
    ASSERT_EQ(PQstatus(a.get()), CONNECTION_OK);
    ASSERT_EQ(PQstatus(b.get()), CONNECTION_OK);
    PQclear(PQexec(a.get(), "CREATE TABLE only_in_first (x int)"));
    EXPECT_EQ(PgOne(a.get(), "SELECT count(*) FROM pg_tables WHERE tablename = 'only_in_first'"),
              "1");
    EXPECT_EQ(PgOne(b.get(), "SELECT count(*) FROM pg_tables WHERE tablename = 'only_in_first'"),
              "0");
}
