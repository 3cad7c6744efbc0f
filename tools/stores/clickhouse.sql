-- The table that `jobresults follow --exec` fills in ClickHouse, and a view
-- of the newest job per host and client. Create both once:
--   clickhouse-client --multiquery < clickhouse.sql
-- then run follow on each host with
--   --exec 'clickhouse-client --input_format_skip_unknown_fields=1
--           --query "INSERT INTO jobresults FORMAT JSONEachRow"'
-- A batch that follow hands over again (after a kill of the command or of
-- follow) adds rows that the table already holds, under the same file_id
-- and offset; ReplacingMergeTree keeps one row of each when it merges, and
-- FINAL reads as if it had.
CREATE TABLE IF NOT EXISTS jobresults (
    file_id String,
    offset UInt64,
    host String,
    time_seconds DateTime,
    file String,
    client String,
    url String,
    job_id String,
    error String,
    size UInt64
) ENGINE = ReplacingMergeTree ORDER BY (file_id, offset);

-- The newest job of each client of each host: its file's creation time,
-- then its place in that file, decide.
CREATE VIEW IF NOT EXISTS jobresults_last AS
SELECT host, client,
       max(time_seconds) AS last_time,
       argMax(error, (time_seconds, offset)) AS error,
       argMax(size, (time_seconds, offset)) AS size,
       argMax(job_id, (time_seconds, offset)) AS job_id
FROM jobresults FINAL
GROUP BY host, client;
