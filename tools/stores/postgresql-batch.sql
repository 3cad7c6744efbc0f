-- Stores one batch of `jobresults follow --exec`: its lines come on
-- standard input. Run in one transaction (psql -1), so that a batch is kept
-- whole or not at all; records already stored are skipped.
CREATE TEMPORARY TABLE batch (line text) ON COMMIT DROP;
-- One JSON object a line, taken whole: no byte of a JSON line is the quote
-- or the delimiter chosen here, as JSON escapes every control character.
\copy batch FROM pstdin WITH (FORMAT csv, QUOTE E'\x01', DELIMITER E'\x02')
INSERT INTO jobresults (file_id, "offset", host, time, file, client, url, job_id, error, size)
SELECT j->>'file_id', (j->>'offset')::bigint, j->>'host', (j->>'time')::timestamptz, j->>'file',
       j->>'client', j->>'url', j->>'job_id', j->>'error', (j->>'size')::numeric
FROM (SELECT line::jsonb AS j FROM batch) AS lines
ON CONFLICT (file_id, "offset") DO NOTHING;
