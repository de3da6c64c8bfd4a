-- The demo library: a few hundred readers and loans for trying Norvel out (SQLite).
-- Card numbers of several lengths, some of them with a padded twin that the run must leave alone,
-- readers whose password is their card number, and loans whose card no reader has.
CREATE TABLE lib_people (
    pe_id     varchar(20) PRIMARY KEY,
    pe_passwd varchar(20),
    pe_name   varchar(40)
);
CREATE TABLE lib_jieshu (
    js_id      integer PRIMARY KEY,
    js_libcard varchar(20),
    js_book    varchar(40),
    js_date    date
);

-- 300 readers: card numbers of 3 to 8 digits; every third one has its card number as password,
-- every seventh an empty one.
WITH RECURSIVE seq(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM seq WHERE i < 300)
INSERT INTO lib_people (pe_id, pe_passwd, pe_name)
SELECT id,
       CASE WHEN i % 3 = 0 THEN id WHEN i % 7 = 0 THEN '' ELSE printf('pw%04d', (i * 37) % 10000) END,
       '读者' || i
FROM (SELECT i, CAST(((i * 7919) % (9 * p)) + p AS text) AS id
      FROM (SELECT i, CASE i % 6 WHEN 0 THEN 100 WHEN 1 THEN 1000 WHEN 2 THEN 10000
                                 WHEN 3 THEN 100000 WHEN 4 THEN 1000000 ELSE 10000000 END AS p FROM seq));

-- Padded twins: cards issued earlier with their numbers already padded to 9 digits by hand.
INSERT INTO lib_people (pe_id, pe_passwd, pe_name)
SELECT substr('000000000' || pe_id, -9, 9), 'twin', '重号' || pe_name
FROM lib_people WHERE rowid % 25 = 0;

-- 500 loans, spread over the readers, and a few for cards no reader has.
CREATE TEMP TABLE numbered AS
SELECT row_number() OVER (ORDER BY rowid) - 1 AS k, pe_id FROM lib_people WHERE pe_passwd <> 'twin';
WITH RECURSIVE seq(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM seq WHERE i < 500)
INSERT INTO lib_jieshu (js_id, js_libcard, js_book, js_date)
SELECT i,
       CASE WHEN i % 50 = 0 THEN CAST(4000 + i AS text) ELSE n.pe_id END,
       '图书' || (i % 120),
       date('2024-01-01', '+' || (i % 365) || ' days')
FROM seq JOIN numbered n ON n.k = (i * 13) % (SELECT count(*) FROM numbered);
