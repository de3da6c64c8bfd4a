-- A synthetic library for the padding benchmark.  psql variables:
--   readers, loans  how many of each
--   minlen          the shortest card number (1 for a mixed library, 5 where numbering starts at 10000)
-- Card numbers have 1 to 12 digits, most of them 6 to 8; about 1 % of the short ones have a padded
-- twin ("123" and "000000123"); 5 % of the readers have their card number as password; loans are
-- spread over the readers, with a few cards that no reader has.
\set ON_ERROR_STOP 1
SELECT setseed(0.4242);

CREATE TABLE lib_people (pe_id varchar(20) NOT NULL PRIMARY KEY, pe_passwd varchar(20), pe_name varchar(40));
CREATE TABLE lib_jieshu (js_id bigint PRIMARY KEY, js_libcard varchar(20), js_book varchar(20), js_date date);

CREATE TEMP TABLE card_length (len int, upto float);
INSERT INTO card_length
SELECT len, sum(weight) OVER (ORDER BY len) / sum(weight) OVER ()
FROM (VALUES (1, .002), (2, .005), (3, .01), (4, .03), (5, .06), (6, .25), (7, .33), (8, .22),
             (9, .04), (10, .03), (11, .015), (12, .008)) AS w(len, weight)
WHERE len >= :minlen;

CREATE FUNCTION pg_temp.card(u float, v float) RETURNS text LANGUAGE sql AS $$
  SELECT (floor(power(10, l.len - 1) + v * 9 * power(10, l.len - 1)))::bigint::text
  FROM card_length l WHERE l.upto >= u ORDER BY l.len LIMIT 1 $$;

DO $$
DECLARE need bigint;
BEGIN
  LOOP
    SELECT current_setting('bench.readers')::bigint - count(*) INTO need FROM lib_people;
    EXIT WHEN need <= 0;
    INSERT INTO lib_people (pe_id, pe_passwd, pe_name)
    SELECT id, CASE WHEN random() < 0.05 THEN id ELSE substr(md5(id), 1, 8) END, 'reader ' || id
    FROM (SELECT pg_temp.card(random(), random()) AS id FROM generate_series(1, need)) s
    ON CONFLICT DO NOTHING;
  END LOOP;
END $$;

-- Padded twins: the same number with leading zeros up to 9 digits, as if padded by hand earlier.
INSERT INTO lib_people (pe_id, pe_passwd, pe_name)
SELECT lpad(pe_id, 9, '0'), substr(md5(pe_id), 1, 8), 'twin ' || pe_id
FROM lib_people WHERE length(pe_id) < 9 AND random() < 0.01
ON CONFLICT DO NOTHING;

CREATE TEMP TABLE numbered AS SELECT row_number() OVER (ORDER BY pe_id) AS k, pe_id FROM lib_people;
CREATE UNIQUE INDEX ON numbered (k);
ANALYZE numbered;

INSERT INTO lib_jieshu (js_id, js_libcard, js_book, js_date)
SELECT s.g,
       CASE WHEN s.unknown THEN (1000000 + floor(random() * 9000000))::bigint::text ELSE n.pe_id END,
       'B' || (s.g % 50000), date '2020-01-01' + (s.g % 1500)::int
FROM (SELECT g, 1 + floor(random() * (SELECT count(*) FROM numbered))::bigint AS k, random() < 0.002 AS unknown
      FROM generate_series(1, current_setting('bench.loans')::bigint) g) s
JOIN numbered n ON n.k = s.k;

CREATE INDEX lib_jieshu_card ON lib_jieshu (js_libcard);
VACUUM ANALYZE lib_people;
VACUUM ANALYZE lib_jieshu;
SELECT (SELECT count(*) FROM lib_people) AS readers, (SELECT count(*) FROM lib_jieshu) AS loans,
       (SELECT count(*) FROM lib_people WHERE length(pe_id) < 9) AS short_readers;
