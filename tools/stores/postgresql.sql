-- The table that `jobresults follow --exec` fills in PostgreSQL, and a view
-- of the newest job per host and client. Create both once:
--   psql -f postgresql.sql
-- then run follow on each host with
--   --exec 'psql -X -q -1 -v ON_ERROR_STOP=1 -f /usr/share/jobresults/stores/postgresql-batch.sql'
-- (connection settings from the environment: PGHOST, PGDATABASE, ...).
-- file_id and offset name a record, so a batch handed over again adds nothing.
CREATE TABLE IF NOT EXISTS jobresults (
    file_id text NOT NULL,
    "offset" bigint NOT NULL,
    host text NOT NULL,
    time timestamptz NOT NULL,
    file text NOT NULL,
    client text NOT NULL,
    url text NOT NULL,
    job_id text NOT NULL,
    error text NOT NULL,
    size numeric(20, 0) NOT NULL,
    PRIMARY KEY (file_id, "offset")
);

CREATE OR REPLACE VIEW jobresults_last AS
SELECT DISTINCT ON (host, client) host, client, time, error, size, job_id
FROM jobresults
ORDER BY host, client, time DESC, "offset" DESC;
