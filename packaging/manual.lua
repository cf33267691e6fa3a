-- Fits a README to a manual page:
--   the README's title goes (the page's title is given as metadata); its sections become the
--   page's sections, with headings in capitals ("DATA DIRECTORY");
--   with the metadata `sections` ("A;B"), only those sections of the README are kept, and
--   not the text before the first of them;
--   tables are narrow enough for an 80-column terminal once indented (pandoc sizes them for
--   70 columns; the indent and the gaps between columns come on top);
--   a link to the server's README names the server's manual page instead;
--   pictures are left out.

local function capitals(heading)
  return pandoc.walk_block(heading, {
    Str = function(word) return pandoc.Str(pandoc.text.upper(word.text)) end,
  })
end

function Pandoc(doc)
  local wanted = nil
  if doc.meta.sections then
    wanted = {}
    for title in pandoc.utils.stringify(doc.meta.sections):gmatch("[^;]+") do
      wanted[title] = true
    end
  end
  local blocks = pandoc.List()
  local keep = wanted == nil
  for _, block in ipairs(doc.blocks) do
    if block.t == "Header" then
      if block.level == 1 then goto next end
      if block.level == 2 then
        keep = wanted == nil or wanted[pandoc.utils.stringify(block)] ~= nil
        block = capitals(block)
      end
      block.level = block.level - 1
    end
    if keep then blocks:insert(block) end
    ::next::
  end
  return pandoc.Pandoc(blocks, doc.meta)
end

function Table(table)
  for _, column in ipairs(table.colspecs) do
    if type(column[2]) == "number" then column[2] = column[2] * 0.85 end
  end
  return table
end

function Link(link)
  if link.target:match("server/README%.md$") then
    return {pandoc.Strong({pandoc.Str("corvantis-server")}), pandoc.Str("(1)")}
  end
end

function Para(para)
  for _, inline in ipairs(para.content) do
    if inline.t ~= "Image" and inline.t ~= "Space" and inline.t ~= "SoftBreak" then return nil end
  end
  return {}
end

return {{Table = Table, Link = Link, Para = Para}, {Pandoc = Pandoc}}
