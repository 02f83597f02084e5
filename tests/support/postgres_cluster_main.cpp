// pelorin-test-postgres: the CTest fixture around a throwaway PostgreSQL server, and the load
// benchmark's database.
//   pelorin-test-postgres start FOLDER [--durable]   makes and starts a cluster there, prints its URL
//   pelorin-test-postgres stop FOLDER                stops it and removes the folder
#include <cstring>
#include <exception>
#include <iostream>

#include "tests/support/postgres_cluster.hpp"

int main(int argc, char** argv) {
    using pelorin::test_support::PostgresCluster;
    const bool start = argc >= 3 && std::strcmp(argv[1], "start") == 0;
    const bool stop = argc == 3 && std::strcmp(argv[1], "stop") == 0;
    const bool durable = argc == 4 && std::strcmp(argv[3], "--durable") == 0;
    if (!(start && (argc == 3 || durable)) && !stop) {
        std::cerr << "usage: pelorin-test-postgres start FOLDER [--durable] | stop FOLDER\n";
        return 2;
    }
    try {
        if (start) {
            PostgresCluster cluster(argv[2], true,
                                    durable ? PostgresCluster::Durability::durable : PostgresCluster::Durability::throwaway);
            std::cout << cluster.url() << std::endl;
        } else {
            PostgresCluster cluster(argv[2], false);
            cluster.stop();
            cluster.remove();
        }
        return 0;
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
}
